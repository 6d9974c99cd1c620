#pragma once

#include <functional>
#include <memory>
#include <string>

#include "dat/dat_writer.h"
#include "logger/logger_seams.h"

// The logger's DAT file: a CDATWriter driven through the IDatLog seam. Whether a session wants it
// is asked of `wanted` at each session start (the "m_WriteDatFile" setting in the program).
// The writer's requests go through `send` (the logger's own sending, which a passive session
// refuses) and its CMR notes through `writeLine` (the logger's line writer).
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

  const CDATWriter& Writer() const { return writer; }

 private:
  WantedFn wanted;
  CDATWriter writer;
};
