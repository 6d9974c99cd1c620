#include "link/serial_port_access.h"

// First cut: the public interface with every operation failing as on a closed port.

SerialPortAccess::SerialPortAccess() : SerialPortAccess(CSerialPortMap::Detected()) {}
SerialPortAccess::SerialPortAccess(const CSerialPortMap& map, const IClock* clock)
    : portMap(map), clock(clock ? clock : &CSteadyClock::Instance()) {}
SerialPortAccess::~SerialPortAccess() {
  Close();
  StopLog();
}
void SerialPortAccess::SetPortMap(const CSerialPortMap& map) {
  portMap = map;
}
CSerialPortMap SerialPortAccess::PortMap() const {
  return portMap;
}
int SerialPortAccess::Open(int, int, char, int, int) {
  return kCommNoSuchPort;
}
int SerialPortAccess::Close() {
  return 0;
}
int SerialPortAccess::SetAll(int, char, int, int) {
  return kCommNotOpen;
}
int SerialPortAccess::SetBaudRate(int) {
  return kCommNotOpen;
}
int SerialPortAccess::SetParity(char) {
  return kCommNotOpen;
}
int SerialPortAccess::SetWordLength(int) {
  return kCommNotOpen;
}
int SerialPortAccess::SetStopBits(int) {
  return kCommNotOpen;
}
int SerialPortAccess::ReadChar() {
  return kCommNotOpen;
}
int SerialPortAccess::ReadCharTimed(int) {
  return kCommNotOpen;
}
int SerialPortAccess::ReadBuffer(std::uint8_t*, int) {
  return kCommNotOpen;
}
int SerialPortAccess::ReadBufferTimed(std::uint8_t*, int, int) {
  return kCommNotOpen;
}
int SerialPortAccess::ReadString(char*, int, int) {
  return kCommNotOpen;
}
int SerialPortAccess::ReadStringTimed(char*, int, int, int) {
  return kCommNotOpen;
}
int SerialPortAccess::WriteChar(std::uint8_t) {
  return kCommNotOpen;
}
int SerialPortAccess::WriteBuffer(const std::uint8_t*, int) {
  return kCommNotOpen;
}
int SerialPortAccess::WriteCharTimed(std::uint8_t, int) {
  return kCommNotOpen;
}
int SerialPortAccess::WriteBufferTimed(const std::uint8_t*, int, int) {
  return kCommNotOpen;
}
int SerialPortAccess::WriteString(const char*, int) {
  return kCommNotOpen;
}
int SerialPortAccess::WriteStringTimed(const char*, int, int) {
  return kCommNotOpen;
}
int SerialPortAccess::SendBreak(int) {
  return kCommNotOpen;
}
int SerialPortAccess::GetBreakDetect() {
  return kCommNotOpen;
}
int SerialPortAccess::ClearLineStatus() {
  return kCommNotOpen;
}
int SerialPortAccess::GetLineStatus() {
  return kCommNotOpen;
}
int SerialPortAccess::GetFramingError() {
  return kCommNotOpen;
}
int SerialPortAccess::GetOverrunError() {
  return kCommNotOpen;
}
int SerialPortAccess::GetParityError() {
  return kCommNotOpen;
}
int SerialPortAccess::ClearRXBuffer() {
  return kCommNotOpen;
}
int SerialPortAccess::IsRXEmpty() {
  return kCommNotOpen;
}
int SerialPortAccess::IsRXFull() {
  return kCommNotOpen;
}
int SerialPortAccess::RXSpaceFree() {
  return kCommNotOpen;
}
int SerialPortAccess::RXSpaceUsed() {
  return kCommNotOpen;
}
int SerialPortAccess::ClearTXBuffer() {
  return kCommNotOpen;
}
int SerialPortAccess::IsTXEmpty() {
  return kCommNotOpen;
}
int SerialPortAccess::IsTXFull() {
  return kCommNotOpen;
}
int SerialPortAccess::TXSpaceFree() {
  return kCommNotOpen;
}
int SerialPortAccess::TXSpaceUsed() {
  return kCommNotOpen;
}
int SerialPortAccess::SetRTS(int) {
  return kCommNotOpen;
}
int SerialPortAccess::SetDTR(int) {
  return kCommNotOpen;
}
int SerialPortAccess::GetModemStatus() {
  return kCommNotOpen;
}
int SerialPortAccess::GetCd() {
  return kCommNotOpen;
}
int SerialPortAccess::GetCts() {
  return kCommNotOpen;
}
int SerialPortAccess::GetDsr() {
  return kCommNotOpen;
}
int SerialPortAccess::SetDtrDsrFlow(int) {
  return kCommNotOpen;
}
int SerialPortAccess::SetRtsCtsFlow(int) {
  return kCommNotOpen;
}
int SerialPortAccess::SetXonXoffFlow(int) {
  return kCommNotOpen;
}
int SerialPortAccess::WaitReadable(int) {
  return kCommNotOpen;
}
int SerialPortAccess::GetPort() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetBaudRate() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetParity() const {
  return 250;
}
int SerialPortAccess::GetWordLength() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetStopBits() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetRTS() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetDTR() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetDtrDsrFlow() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetRtsCtsFlow() const {
  return kCommNotOpen;
}
int SerialPortAccess::GetXonXoffFlow() const {
  return kCommNotOpen;
}
bool SerialPortAccess::IsOpen() const {
  return false;
}
int SerialPortAccess::GetCommHandle() const {
  return -1;
}
int SerialPortAccess::StartLog(const std::string&) {
  return kCommLogOpenFailed;
}
void SerialPortAccess::StopLog() {}
bool SerialPortAccess::IsLogging() const {
  return false;
}
void SerialPortAccess::LogText(const std::string&) {}
void SerialPortAccess::SetExternalSink(CDebugFile*) {}
