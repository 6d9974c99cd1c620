#pragma once

#include <string>

// What a receiver sends after "DUCT," for its port 1 at 38400 baud both ways, 8N1 (ETX not
// included).
inline const std::string kPortReport =
    "Brisk Mote,PORT(1),38400,38400,8,1,N,N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),NMEA(N)";
