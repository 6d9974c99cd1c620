#pragma once

// The two notifications the link object gives its owner, the main view. Both are called from the
// link's producing thread (the serial reader thread, or the UI thread for network links) and must
// only queue the news for the UI thread: never call back into the link from inside them.
// The numbers are the message numbers the view has always used for them.
inline constexpr unsigned WM_LINK_PACKET = 0x434;  // a packet was queued in the link's parser
inline constexpr unsigned WM_LINK_STATUS = 0x435;  // the link went up (0) or failed or closed (1)

inline constexpr int kLinkStatusUp = 0;
inline constexpr int kLinkStatusDown = 1;

class ILinkOwner {
 public:
  virtual ~ILinkOwner() = default;
  // WM_LINK_PACKET: packets were queued in the parser (once per read, however many); take them
  // with TakePackets.
  virtual void PostLinkPacket() = 0;
  // WM_LINK_STATUS with kLinkStatusUp or kLinkStatusDown as wParam.
  virtual void PostLinkStatus(int wParam) = 0;
};
