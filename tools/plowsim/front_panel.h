#pragma once

#include <array>
#include <cstdint>
#include <string>

// Key codes of the receiver's front panel as the key packet carries them.
enum class PanelKey : std::uint8_t {
  kEnterPressed = 0,
  kUp = 1,
  kDown = 2,
  kRight = 3,
  kEscape = 4,
  kEnterHeld = 6,
  kEnterReleased = 7,
  kLeft = 8,
};

// What the two-line display shows at one moment.
struct PanelView {
  static constexpr std::size_t kColumns = 16;
  std::array<std::string, 2> rows;  // exactly kColumns characters each
  bool cursorOn = false;
  std::uint8_t cursorColumn = 0;
  std::uint8_t cursorRow = 0;
};

// What the panel needs from the rest of the receiver to draw itself.
struct PanelContext {
  std::int64_t utcSeconds = 0;     // simulated UTC, seconds since 1970
  std::int64_t uptimeSeconds = 0;  // since the receiver started
};

// The receiver's front panel: a ring of four screens (status, position, satellites, antenna
// height), an editable field on the antenna screen and a hidden service screen. Pure state: keys
// in, a view out; the model decides when to report.
//
// Keys: Up/Left go to the previous screen, Down/Right to the next; Escape goes home to the status
// screen (and leaves the service screen or cancels an edit). Enter acts on its release (7) after a
// press (0), so that a hold (6, sent after 3.9 s) can open the service screen instead. On the
// antenna screen Enter starts editing: the cursor sits on a digit, Up/Down change it, Left/Right
// move between digits, Enter stores, Escape cancels.
class CFrontPanel {
 public:
  enum class Screen { kStatus, kPosition, kSatellites, kAntenna, kService };

  // Applies one key code; true when the panel's state changed. Unknown codes change nothing.
  bool PressKey(std::uint8_t code);

  PanelView Render(const PanelContext& context) const;

  Screen Current() const { return screen; }
  bool Editing() const { return editing; }
  // Antenna height in millimetres, 0..9999.
  int AntennaHeightMm() const { return antennaMm; }
  static const char* ScreenName(Screen screen);

 private:
  void Enter();
  void Step(int direction);

  Screen screen = Screen::kStatus;
  bool enterDown = false;
  bool enterHeld = false;
  bool editing = false;
  int antennaMm = 2000;
  int editMm = 0;     // the value being edited
  int editDigit = 0;  // 0 = metres .. 3 = millimetres
};
