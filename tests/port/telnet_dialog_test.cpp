// The connecting window on Qt's offscreen platform: it closes by itself when
// the connect succeeds or fails, and its cancel button ends a pending one.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <string>
#include <vector>

#include "port/comport.h"
#include "port/telnet.h"
#include "port/telnet_dialog.h"
#include "shell/hostprop.h"
#include "support/tcp_peer.h"

namespace {

int ListenOn(int backlog, int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  listen(fd, backlog);
  *port = ntohs(a.sin_port);
  return fd;
}

QDialog* FindDialingWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "TelnetDialing" && w->isVisible()) return qobject_cast<QDialog*>(w);
  return nullptr;
}

TEST(TelnetDialingWindow, ClosesByItselfOrOnCancel) {
  int argc = 1;
  char arg0[] = "test_port";
  char* argv[] = {arg0, nullptr};
  QApplication app(argc, argv);
  COMPORT::ResetForTest();
  TELNET::ResetForTest();
  hostprop.SetDefault();
  InstallTelnetDialingWindow();

  // Connects: the window goes away with result 1.
  int port;
  const int listener = ListenOn(8, &port);
  std::snprintf(hostprop.DialNo, sizeof hostprop.DialNo, "127.0.0.1");
  std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%d", port);
  EXPECT_EQ(TELNET::ConnectSocket(), 1);
  COMPORT::Close();
  close(listener);

  // Refused: the window closes with failure without anyone pressing cancel.
  std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%d", FreeLoopbackPort());
  EXPECT_EQ(TELNET::ConnectSocket(), 0);

  // Pending (the listener's accept queue is full): the user presses cancel.
  const int full = ListenOn(0, &port);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(f);
  }
  std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%d", port);
  std::string shownHost, shownTitle;
  bool clicked = false;
  QTimer poke;
  QObject::connect(&poke, &QTimer::timeout, [&] {
    QDialog* d = FindDialingWindow();
    if (!d || clicked) return;
    shownTitle = d->windowTitle().toStdString();
    for (QLabel* l : d->findChildren<QLabel*>()) shownHost += l->text().toStdString() + "|";
    if (auto* b = d->findChild<QPushButton*>("cancel")) {
      clicked = true;
      b->click();
    }
  });
  poke.start(100);
  EXPECT_EQ(TELNET::ConnectSocket(), 0);
  poke.stop();
  EXPECT_TRUE(clicked);
  EXPECT_EQ(shownTitle, "telnet接続中");
  EXPECT_EQ(shownHost, "ドメイン名:|127.0.0.1|");
  EXPECT_FALSE(COMPORT::IsOpen());
  for (int f : fillers) close(f);
  close(full);
  TELNET::ResetForTest();
}

}  // namespace
