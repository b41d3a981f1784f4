// COMPORT: the one connection of the program.
//
// It hides whether bytes travel over a serial device or a telnet socket and
// offers class-wide operations: open and close, line parameters, a receive
// queue that the user-interface thread drains, and the send operations that
// apply the host's character code, local echo and line-end rules.
//
// Threads.  Per open connection a reader thread moves bytes from the line into
// a private growing buffer, and a writer thread drains the send ring.  Both block in poll() on the line and on an eventfd that wakes or
// stops them; the buffers they share with the user-interface thread sit behind
// one mutex.  Everything else (the receive queue, the conversions, the send
// paths) runs on the user-interface thread only.
//
// The port never calls into the terminal: received bytes wait until a consumer
// calls DoReceive and takes them with IsReceived/Get.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/tick.h"
#include "platform/line.h"
#include "port/linecode.h"

enum STOPBIT : int { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };
enum FLOWCONTROL : int { FLOW_NONE = 0, FLOW_XONXOFF = 1, FLOW_HARDWARE = 2 };

class COMPORT {
 public:
  // Sizes that callers can see.
  static constexpr int RECEIVE_QUEUE = 1024;    // logical size of the receive queue
  // Room past RECEIVE_QUEUE: a refill into a queue holding fewer than 512
  // bytes converts at most 512 bytes into at most 2*512+2 (the CR rule and a
  // held escape), so the queue peaks at 1026 bytes.
  static constexpr int RECEIVE_SLACK = 64;
  static constexpr int RECEIVE_REFILL = 512;    // most bytes taken from the reader per DoReceive
  // What the text paths may queue for the writer (more is refused with
  // "送信不能"), and the pause buffer.
  static constexpr int WRITE_BUFFER = 4096;
  // The writer's ring: a transfer's bulk sends (SendBulk) may fill all of it,
  // so the writer always has a large piece to hand the line in one call.
  static constexpr size_t SEND_RING = 262144;
  static constexpr int READER_INITIAL = 16384;  // reader buffer, grows by 8192

  // --- opening and closing -------------------------------------------------
  // Opens serial device `port` (0-based, mapped through config.ComDevice or
  // /dev/ttyS<port>), exclusive.  0 on failure (the port stays closed); 1 on
  // success and when already open (then only tOpen is refreshed).
  static int Open(int port);
  // Opens a serial device by path (tests, and Open above).
  static int OpenPath(const char* path);
  // Adopts a line obtained elsewhere (a socket, a pipe in the tool, a device
  // opened by the dialler), resets the port state and starts its threads.
  static int Start(std::unique_ptr<LINE> line);
  static void Close();
  static void Flush();
  static void TerminateReadThread();
  // Wakes the writer when the writer buffer holds bytes.
  static void CheckWriteThread();
  static bool IsOpen();

  // --- line parameters and signals (serial only) ---------------------------
  // 1 when the line took the settings (always on a socket or pipe), 0 when
  // the device refused them (an unknown speed).  parity: 0 none, 1 even, 2 odd.
  static int SetComParam(int baud, STOPBIT stop, FLOWCONTROL flow, int parity);
  static int GetBaudrate();  // -1 when closed or a socket
  static void Hangup();      // serial: drop DTR; socket: close the connection
  static void RestoreHangup();
  static void SendBreak(int ms);
  static void StopBreak();
  // Line-status poll: sets fCdChanged on carrier loss (serial, when watched)
  // or when the peer closed the line.  Returns fCdChanged; the caller clears it.
  static int GetEvent();

  // --- receive side ----------------------------------------------------------
  static int DoReceive();
  static int IsReceived() { return cchReceived > iTakeout; }
  static int Get() { return static_cast<unsigned char>(szReceived[iTakeout++]); }
  static int Peek() { return static_cast<unsigned char>(szReceived[iTakeout]); }
  // Copies up to max unread bytes out of the queue and takes them (bulk Get).
  static size_t GetBlock(void* buf, size_t max);
  static int GetInQueueCount();
  static int SuckReceivedCount();
  static void SetBinaryMode() { fBinaryMode = 1; }
  static void RestoreBinaryMode() { fBinaryMode = 0; }
  static void Insert(int at, char c);
  static void Delete(int at);
  // Waits up to ms for the reader to hold data or for the line to close.
  // Returns true when DoReceive may find something.
  static bool WaitReceive(int ms);
  // Called by the reader thread (not the UI thread) when data arrives on an
  // empty reader buffer; the dispatcher uses it to schedule a pass at once.
  // Set it while the port is closed: the reader thread reads it unlocked.
  static std::function<void()> onDataArrived;
  // Telnet command stripping for socket lines: takes the n raw bytes of one
  // refill in place and returns how many remain.  Installed by the telnet
  // layer; while null, socket data passes as it came.
  static size_t (*telnetReceiveFilter)(unsigned char* data, size_t n);

  // --- send side -------------------------------------------------------------
  static void Send(char c);
  static void Send(const char* s);
  static void SendSub(char c);
  static void SendSub(const char* s);
  static void SendBinary(const void* data, int len, int raw);
  static void SendWithEcho(char send, char echo);
  static void SendSlow(char c);
  static void SendSlow(const char* s);
  static void PauseTransmit();
  static void SendSettle();
  static int GetOutQueueCount();
  // Transfers: queues len bytes whole (a socket doubles IAC, as SendBinary
  // does) when the ring has room for them, else queues nothing and returns
  // false; never shows "送信不能".  Also true once the line refuses bytes
  // for good (GetEvent reports that).
  static bool SendBulk(const void* data, size_t len);
  static size_t SendRoom();  // free bytes in the writer ring
  // Drops what waits in the writer ring (a write in flight still ends).
  static void DropOutput();
  // Waits up to ms for received data, the line's end, or (room > 0) until the
  // ring has room bytes free.  True when one of them holds.
  static bool WaitReceiveOrRoom(size_t room, int ms);
  static int IsTransmitQueueEmpty() { return GetOutQueueCount() == 0; }
  static void SetLocalEchoOff();
  static void RestoreLocalEcho();

  // Back to the state of a program that never opened a port (tests).
  static void ResetForTest();
  // Where a held reader stops now (its room), 0 when closed (tests).
  static size_t ReaderRoomForTest();

  // --- state -----------------------------------------------------------------
  static int fSocket;
  static TICK tOpen;
  static std::atomic<int> fInQueueResting;  // written by the reader thread
  static int fBinaryMode;
  static int fEvenParity;
  static int fSavedLocalEcho;
  static int fTransmitPaused;
  static int cbTransmitSuspending;
  static int fCdChanged;
  static int fErrorDetect;
  static int fTelnetBinary;  // telnet binary mode in force: CR goes alone
  static int fReceivedVtxBinaryStartup;
  static int cbThreadRead;   // bytes in the reader buffer (snapshot, UI thread)
  static char szReceived[RECEIVE_QUEUE + RECEIVE_SLACK];  // the receive queue
  static int cchReceived, iTakeout, cchReceivedTotal;
  static int cSent;
  static RECEIVEDECODER decoder;
  static SENDENCODER encoder;
  static TICK timeAutoHangup;  // tick of the last byte taken into the queue
};

extern COMPORT com;
