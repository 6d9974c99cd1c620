#pragma once

#include <array>
#include <string>

// What a page shows of the receiver's front panel at one moment.
struct PanelSnapshot {
  // The two LCD rows as LCD font codes (after the display character mapping), at most sixteen
  // each, without the cursor: the page blinks it itself.
  std::array<std::string, 2> rows;
  bool cursorOn = false;
  int cursorColumn = 0;
  int cursorRow = 0;
  int linkState = 0;          // 0 disconnected, 1 opening, 2 waiting, 3 connected
  bool lcdLit = false;        // the LCD is lit (anything but disconnected)
  bool loggingLamp = false;   // log lines arrived within the last moment
  bool logging = false;       // diagnostic logging is on: the page shows the live log lines
  bool keysAvailable = true;  // false while a recording plays: no page may press keys then
  std::string title;          // the main window's title, bytes of the receiver's character set

  bool operator==(const PanelSnapshot&) const = default;
};

// What the web panel is given by the program: the panel to show, where keys go, where its own
// events go. All calls on the thread the web panel lives on (the UI thread).
class IWebPanelHost {
 public:
  virtual ~IWebPanelHost() = default;

  virtual PanelSnapshot Snapshot() const = 0;
  // A key of a page with control: 1 Up, 2 Down, 3 Right, 4 Esc, 8 Left, 9-14 F1-F6, 15 Tab.
  virtual void PressKey(int code) = 0;
  // Enter, pressed and released; held long enough the host makes it the long press.
  virtual void PressEnter() = 0;
  virtual void ReleaseEnter() = 0;
  // One "* Web client ..." line (ending in "\n") about a page joining, leaving, being refused or
  // dropped, for the diagnostic log.
  virtual void WebEvent(const std::string& line) = 0;
};
