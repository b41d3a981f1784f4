// SOCKETLINE: the line of a telnet connection, a connected TCP socket.
//
// It is FDLINE's socket flavour (MSG_NOSIGNAL, the 20480-byte hold limit that
// lets TCP flow control hold the host back) with the receive errors sorted
// the way a terminal user needs them:
//   - the peer closed, reset or aborted the connection: end of line (0);
//   - any other receive error is handed up once as the text
//     "\r\nrecv failed. code = N\r\n" in place of data, so that it shows on the
//     terminal, and the line is then shut down and ends like a closed one.
//     Reporting it once and hanging up beats writing the same line into the
//     archive every half second while the socket stays broken.
// Once the line has failed, writes fail with EPIPE, which the port counts as
// a lost connection.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "platform/fdline.h"

class SOCKETLINE : public FDLINE {
 public:
  // Takes ownership of a connected socket.
  explicit SOCKETLINE(int fd);
  ssize_t Read(void* buf, size_t n) override;
  ssize_t Write(const void* buf, size_t n) override;

  // The text shown in place of data for receive error `code`.
  static std::string RecvFailedText(int code);
  // True for the errors that mean the peer is gone rather than a fault.
  static bool IsPeerGone(int err);

 private:
  std::atomic<bool> failed{false};
};
