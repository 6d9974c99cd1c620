#pragma once

#include <cstdint>
#include <string>

// The calls of the serial port layer that the serial transport makes, with SerialPortAccess's
// meaning and result codes (comm_error.h). SerialPortAccess is the one the program uses; tests put
// an in-memory line in its place. GetCommHandle gives a descriptor that polls readable while a
// byte waits (or the line hung up).
class ISerialLine {
 public:
  virtual ~ISerialLine() = default;
  virtual int Open(int port, int baud, char parity, int wordLength, int stopBits) = 0;
  virtual int Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual int SetAll(int baud, char parity, int wordLength, int stopBits) = 0;
  virtual int SetRTS(int control) = 0;
  virtual int ReadChar() = 0;
  virtual int ReadBuffer(std::uint8_t* buffer, int count) = 0;
  virtual int WriteChar(std::uint8_t b) = 0;
  virtual int WriteBuffer(const std::uint8_t* buffer, int count) = 0;
  virtual int WriteCharTimed(std::uint8_t b, int ms) = 0;
  virtual int WriteBufferTimed(const std::uint8_t* buffer, int count, int ms) = 0;
  virtual int SendBreak(int ms) = 0;
  virtual int ClearRXBuffer() = 0;
  virtual int ClearTXBuffer() = 0;
  virtual int IsTXEmpty() = 0;
  virtual int GetCommHandle() const = 0;
  virtual int StartLog(const std::string& fileName) = 0;
  virtual void StopLog() = 0;
  virtual bool IsLogging() const = 0;
  virtual std::string LogFileName() const = 0;
};
