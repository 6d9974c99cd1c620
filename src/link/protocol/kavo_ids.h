#pragma once

#include <cstdint>

// The receiver's packet identifiers, one name each: the id byte of a frame (kId...), the
// sub-identifier a super-packet carries in data byte 0 (kSub...), and the codes that two of the
// sub-identifiers carry in data byte 1 (kPanel... for the front panel group, kSystem... for the
// system group). The numbers are the receiver's and never change.
//
// A request to the receiver is usually answered by the packet 0x20 above it (0x21 time request,
// 0x41 time); super-packet requests go out as kIdSuperRequest and come back as kIdSuperReport
// with the same sub-identifier.
namespace kavo {

// Frame identifiers, requests and commands the program sends.
inline constexpr std::uint8_t kIdClearMemory = 0x1E;  // with data 0x4B: clear battery-backed memory
inline constexpr std::uint8_t kIdTimeRequest = 0x21;
inline constexpr std::uint8_t kIdSelectionRequest = 0x24;
inline constexpr std::uint8_t kIdHealthRequest = 0x26;
inline constexpr std::uint8_t kIdOscillatorRequest = 0x2D;
inline constexpr std::uint8_t kIdAdcRequest = 0x33;
inline constexpr std::uint8_t kIdIoOptions = 0x35;  // no data: request; with data: set
inline constexpr std::uint8_t kIdDataRequest = 0x38;
inline constexpr std::uint8_t kIdEphemerisStatusRequest = 0x3B;
inline constexpr std::uint8_t kIdTrackingStatusRequest = 0x3C;
inline constexpr std::uint8_t kIdDebugOutput = 0x3F;  // 02 01 on, 02 00 off
inline constexpr std::uint8_t kIdDgpsModeRequest = 0x62;
inline constexpr std::uint8_t kIdCorrectionStatusRequest = 0x65;
inline constexpr std::uint8_t kIdBaseStationRequest = 0x67;
inline constexpr std::uint8_t kIdRtkRequest = 0x69;
inline constexpr std::uint8_t kIdFixAutoReport = 0x6A;  // request and answer share the id
inline constexpr std::uint8_t kIdQualityOutputRequest = 0x6B;
inline constexpr std::uint8_t kIdSyncMeasurements = 0x6E;  // request and answer share the id
inline constexpr std::uint8_t kIdPvFilter = 0x70;          // request and answer share the id
inline constexpr std::uint8_t kIdPvFilterSettingsRequest = 0x71;
inline constexpr std::uint8_t kIdNmeaControl = 0x7A;
inline constexpr std::uint8_t kIdOutputIntervalsRequest = 0x7C;
inline constexpr std::uint8_t kIdPps = 0xB0;         // request and answer share the id
inline constexpr std::uint8_t kIdNavigation = 0xBB;  // request and answer share the id
inline constexpr std::uint8_t kIdPortConfig = 0xBC;

// Frame identifiers the receiver sends.
inline constexpr std::uint8_t kIdWrapped = 0x1A;  // data 0: 1 an NMEA sentence, 2 a CMR relay message
inline constexpr std::uint8_t kIdTime = 0x41;
inline constexpr std::uint8_t kIdXyzSingle = 0x42;
inline constexpr std::uint8_t kIdHealth = 0x46;
inline constexpr std::uint8_t kIdResetDetection = 0x4A;
inline constexpr std::uint8_t kIdMachineId = 0x4B;
inline constexpr std::uint8_t kIdOscillator = 0x4D;
inline constexpr std::uint8_t kIdAdc = 0x53;
inline constexpr std::uint8_t kIdIoOptionsReport = 0x55;
inline constexpr std::uint8_t kIdVelocity = 0x56;
inline constexpr std::uint8_t kIdDataReply = 0x58;
inline constexpr std::uint8_t kIdEphemerisStatus = 0x5B;
inline constexpr std::uint8_t kIdTrackingStatus = 0x5C;
inline constexpr std::uint8_t kIdDebugText = 0x5F;
inline constexpr std::uint8_t kIdSelection = 0x6D;
inline constexpr std::uint8_t kIdMeasurement = 0x6F;
inline constexpr std::uint8_t kIdPvFilterSettings = 0x72;
inline constexpr std::uint8_t kIdNmeaSettings = 0x7B;
inline constexpr std::uint8_t kIdOutputIntervals = 0x7D;
inline constexpr std::uint8_t kIdDgpsMode = 0x82;
inline constexpr std::uint8_t kIdXyzPosition = 0x83;
inline constexpr std::uint8_t kIdLlaPosition = 0x84;
inline constexpr std::uint8_t kIdCorrectionStatus = 0x85;
inline constexpr std::uint8_t kIdBaseStation = 0x87;
inline constexpr std::uint8_t kIdRtkReport = 0x89;
inline constexpr std::uint8_t kIdQualityOutput = 0x8B;
inline constexpr std::uint8_t kIdAttitudeMatrix = 0x94;
inline constexpr std::uint8_t kIdAttitudeQuaternion = 0x95;
inline constexpr std::uint8_t kIdAttitudeEuler = 0x9A;

// Super-packets: the sub-identifier is data byte 0.
inline constexpr std::uint8_t kIdSuperRequest = 0x8E;  // requests and commands to the receiver
inline constexpr std::uint8_t kIdSuperReport = 0x8F;   // the receiver's reports and answers

// Sub-identifiers of kIdSuperRequest and kIdSuperReport.
inline constexpr std::uint8_t kSubBoardConfig = 0x64;
inline constexpr std::uint8_t kSubFirmwareIdentity = 0x7B;  // also the older configuration block
inline constexpr std::uint8_t kSubConfigBlock = 0x7F;
inline constexpr std::uint8_t kSubSubscriptionStatus = 0x80;
inline constexpr std::uint8_t kSubSpotStations = 0x81;
inline constexpr std::uint8_t kSubDecoderStatus = 0x82;
inline constexpr std::uint8_t kSubCorrectionStatus = 0x85;
inline constexpr std::uint8_t kSubPortOutputs = 0x88;
inline constexpr std::uint8_t kSubDgpsSource = 0x89;
inline constexpr std::uint8_t kSubSubscription = 0x8B;
inline constexpr std::uint8_t kSubPanel = 0x8C;  // front panel (kPanel...) and remote card requests
inline constexpr std::uint8_t kSubEngineStatus = 0x90;
inline constexpr std::uint8_t kSubGuidanceConfig = 0x91;
inline constexpr std::uint8_t kSubLightbarConfig = 0x92;
inline constexpr std::uint8_t kSubSystem = 0x93;  // the system group (kSystem...)
inline constexpr std::uint8_t kSubButtonSet = 0x95;
inline constexpr std::uint8_t kSubButtonDefinitions = 0x98;
inline constexpr std::uint8_t kSubCorrectionSource = 0x9A;
inline constexpr std::uint8_t kSubHardware = 0x9C;
inline constexpr std::uint8_t kSubAutoSelect = 0x9E;
inline constexpr std::uint8_t kSubCanConfig = 0x9F;
inline constexpr std::uint8_t kSubSolutionQuality = 0xA2;
inline constexpr std::uint8_t kSubOrbitServiceStatus = 0xA3;
inline constexpr std::uint8_t kSubBiasFilter = 0xA4;
inline constexpr std::uint8_t kSubDisplayTest = 0xA6;  // the command panel's video, touch and beeper commands
inline constexpr std::uint8_t kSubPositionReport = 0xA7;

// Data byte 1 of the front panel group (kSubPanel). Bytes 0x10..0x1B there are the receiver's
// remote card requests (RemoteFileOp).
inline constexpr std::uint8_t kPanelKey = 0x00;
inline constexpr std::uint8_t kPanelDisplay = 0x01;
inline constexpr std::uint8_t kPanelFlags = 0x03;
inline constexpr std::uint8_t kPanelTitle = 0x04;

// Data byte 1 of the system group (kSubSystem).
inline constexpr std::uint8_t kSystemKeyEvent = 0x04;
inline constexpr std::uint8_t kSystemAttitude = 0x05;
inline constexpr std::uint8_t kSystemDebug = 0x06;
inline constexpr std::uint8_t kSystemPosition = 0x07;
inline constexpr std::uint8_t kSystemProcessorUsage = 0x11;
inline constexpr std::uint8_t kSystemFatalError = 0x12;
inline constexpr std::uint8_t kSystemFileStream = 0x14;
inline constexpr std::uint8_t kSystemFileTransfer = 0x15;

}  // namespace kavo
