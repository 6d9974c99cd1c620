#include "front_panel.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr int kRingSize = 4;  // the screens reached by the arrows; the service screen is not one of them
constexpr std::uint8_t kDigitColumns[4] = {1, 3, 4, 5};  // " 2.000 m": metres, then three decimals
constexpr int kDigitWeights[4] = {1000, 100, 10, 1};

std::string Fit(const char* text) {
  std::string row(text);
  row.resize(PanelView::kColumns, ' ');
  return row;
}

std::string Height(int mm) {
  char text[32];
  std::snprintf(text, sizeof text, " %d.%03d m", mm / 1000, mm % 1000);
  return text;
}

}  // namespace

const char* CFrontPanel::ScreenName(Screen s) {
  switch (s) {
    case Screen::kStatus:
      return "STATUS";
    case Screen::kPosition:
      return "POSITION";
    case Screen::kSatellites:
      return "SATELLITES";
    case Screen::kAntenna:
      return "ANTENNA";
    case Screen::kService:
      return "SERVICE";
  }
  return "?";
}

bool CFrontPanel::PressKey(std::uint8_t code) {
  const Screen oldScreen = screen;
  const bool oldEditing = editing;
  const int oldEditMm = editMm, oldDigit = editDigit, oldAntenna = antennaMm;
  switch (static_cast<PanelKey>(code)) {
    case PanelKey::kEnterPressed:
      enterDown = true;
      enterHeld = false;
      break;
    case PanelKey::kEnterHeld:
      enterHeld = true;
      editing = false;
      screen = Screen::kService;
      break;
    case PanelKey::kEnterReleased:
      if (enterDown && !enterHeld) Enter();
      enterDown = false;
      enterHeld = false;
      break;
    case PanelKey::kUp:
    case PanelKey::kLeft:
    case PanelKey::kDown:
    case PanelKey::kRight:
      Step(code);
      break;
    case PanelKey::kEscape:
      if (editing)
        editing = false;
      else
        screen = Screen::kStatus;
      break;
    default:
      break;
  }
  return screen != oldScreen || editing != oldEditing || editMm != oldEditMm || editDigit != oldDigit ||
         antennaMm != oldAntenna;
}

void CFrontPanel::Enter() {
  if (screen != Screen::kAntenna) return;
  if (editing) {
    antennaMm = editMm;
    editing = false;
  } else {
    editing = true;
    editMm = antennaMm;
    editDigit = 0;
  }
}

void CFrontPanel::Step(int code) {
  const auto key = static_cast<PanelKey>(code);
  if (editing) {
    const int weight = kDigitWeights[editDigit];
    const int digit = (editMm / weight) % 10;
    if (key == PanelKey::kUp) editMm += (digit == 9 ? -9 : 1) * weight;
    if (key == PanelKey::kDown) editMm += (digit == 0 ? 9 : -1) * weight;
    if (key == PanelKey::kRight) editDigit = (editDigit + 1) % 4;
    if (key == PanelKey::kLeft) editDigit = (editDigit + 3) % 4;
    return;
  }
  if (screen == Screen::kService) return;
  const int forward = (key == PanelKey::kDown || key == PanelKey::kRight) ? 1 : kRingSize - 1;
  screen = static_cast<Screen>((static_cast<int>(screen) + forward) % kRingSize);
}

PanelView CFrontPanel::Render(const PanelContext& context) const {
  static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  PanelView view;
  char text[64];
  switch (screen) {
    case Screen::kStatus: {
      const std::time_t t = static_cast<std::time_t>(context.utcSeconds);
      std::tm utc{};
      gmtime_r(&t, &utc);
      view.rows[0] = Fit("Brisk Mote   RTK");
      std::snprintf(text, sizeof text, "%02d-%s  %02d:%02d:%02d", utc.tm_mday, kMonths[utc.tm_mon % 12],
                    utc.tm_hour, utc.tm_min, utc.tm_sec);
      view.rows[1] = Fit(text);
      break;
    }
    case Screen::kPosition:
      view.rows[0] = Fit("Lat  52 31.1234N");
      view.rows[1] = Fit("Lon 013 24.5678E");
      break;
    case Screen::kSatellites:
      view.rows[0] = Fit("Sats 11 PDOP 1.4");
      view.rows[1] = Fit("HDOP0.8  VDOP1.1");
      break;
    case Screen::kAntenna:
      view.rows[0] = Fit(editing ? "Antenna height *" : "Antenna height");
      view.rows[1] = Fit(Height(editing ? editMm : antennaMm).c_str());
      if (editing) {
        view.cursorOn = true;
        view.cursorRow = 1;
        view.cursorColumn = kDigitColumns[editDigit];
      }
      break;
    case Screen::kService: {
      const std::int64_t up = context.uptimeSeconds < 0 ? 0 : context.uptimeSeconds;
      view.rows[0] = Fit("Service menu");
      std::snprintf(text, sizeof text, "Uptime  %02d:%02d:%02d", static_cast<int>((up / 3600) % 100),
                    static_cast<int>((up / 60) % 60), static_cast<int>(up % 60));
      view.rows[1] = Fit(text);
      break;
    }
  }
  return view;
}
