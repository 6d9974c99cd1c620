#pragma once

#include <functional>
#include <memory>
#include <string>

#include "dat/dat_writer.h"
#include "logger/logger_seams.h"

class CLogrowan;

// The logger's DAT file: a CDATWriter driven through the logger's IDatLog seam. It lives where the
// program puts its parts together, so that neither the logger nor the DAT writer knows the other.
// Whether a session wants it is asked of `wanted` at each session start (the "m_WriteDatFile"
// setting in the program). The writer's requests go through `send` (the logger's own sending, which a passive
// session refuses) and its CMR notes through `writeLine` (the logger's line writer).
class CDatLogPart final : public IDatLog {
 public:
  using WantedFn = std::function<bool()>;

  CDatLogPart(WantedFn wanted, CDATWriter::SendFn send, CDATWriter::TraceFn trace, const IClock& clock,
              IPrompts& prompts, CDATWriter::LineFn writeLine);

  bool Wanted() override { return wanted && wanted(); }
  // Like the text log, an hour's file that exists is continued (a session restarted within the
  // hour), not emptied: the new session's records follow the earlier ones.
  void Start(const std::string& datPath) override { writer.StartDatLogging(datPath, true); }
  // A writer whose start failed (its file could not be made) starts afresh on the next hour's
  // file instead of appending to it without the acquisition.
  void Reopen(const std::string& datPath) override {
    if (writer.IsActive())
      writer.ReopenDatFile(datPath);
    else
      writer.StartDatLogging(datPath, true);
  }
  void Post(const KavoPacket& packet) override {
    writer.PostPacket(packet.id, packet.length, packet.data, packet.checksumOk);
  }
  void Stop() override { writer.StopDatLogging(); }
  std::uint64_t LostBytes() const override { return writer.LostBytes(); }

  const CDATWriter& Writer() const { return writer; }

 private:
  WantedFn wanted;
  CDATWriter writer;
};

// A DAT file part for `logger` (to be handed to its SetDatLog): requests go through the logger's
// sending (none in a passive session), CMR notes through its line writer, progress lines to
// `trace` (see MakeDatTrace; empty: nowhere). `logger` and `prompts` must outlive the part.
std::unique_ptr<CDatLogPart> MakeDatLogPart(CLogrowan& logger, IPrompts& prompts,
                                            CDatLogPart::WantedFn wanted, CDATWriter::TraceFn trace);
