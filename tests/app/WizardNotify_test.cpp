// The desktop notification over a real D-Bus: a private dbus-daemon for the test, a stand-in
// notification service on it (it records the Notify calls and answers with an id), and the
// wizard's notifier as the client: what it sends, the "Open folder" action that opens the folder
// through the host's launcher, and nothing at all when no notification service runs.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/WizardNotify.h"
#include "platform/host.h"
#include "platform/seams.h"

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";

// The notification service: records what it is asked to show, answers with id 7.
class TFakeNotifications : public QDBusVirtualObject {
 public:
  std::vector<QVariantList> Calls;

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != "Notify") return false;
    Calls.push_back(message.arguments());
    connection.send(message.createReply(QVariantList{7u}));
    return true;
  }
};

class DesktopNotifications : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString daemonProgram = QStandardPaths::findExecutable("dbus-daemon");
    if (daemonProgram.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    daemon.start(daemonProgram, {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForStarted(5000));
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());
  }
  void TearDown() override {
    QDBusConnection::disconnectFromBus("notify-client");
    QDBusConnection::disconnectFromBus("notify-service");
    if (daemon.state() != QProcess::NotRunning) {
      daemon.terminate();
      daemon.waitForFinished(5000);
    }
  }

  QProcess daemon;
  QString address;
};

TEST_F(DesktopNotifications, NotifySendsTheRunAndOpenFolderOpensIt) {
  QDBusConnection service = QDBusConnection::connectToBus(address, "notify-service");
  ASSERT_TRUE(service.isConnected());
  TFakeNotifications fake;
  ASSERT_TRUE(service.registerVirtualObject(kPath, &fake));
  ASSERT_TRUE(service.registerService(kService));

  const QDBusConnection client = QDBusConnection::connectToBus(address, "notify-client");
  wizard::TDesktopNotifier notifier(client);
  ASSERT_TRUE(notifier.Notify("Extraction finished", "12 files to C:\\docs", "C:\\docs"));
  QTRY_COMPARE_WITH_TIMEOUT(fake.Calls.size(), size_t{1}, 5000);
  const QVariantList& call = fake.Calls[0];
  ASSERT_EQ(call.size(), 8);
  EXPECT_EQ(call[0].toString(), "Parcelo");
  EXPECT_EQ(call[2].toString(), "org.parcelo.Parcelo");
  EXPECT_EQ(call[3].toString(), "Extraction finished");
  EXPECT_EQ(call[4].toString(), "12 files to C:\\docs");
  EXPECT_TRUE(call[5].toStringList().contains("open-folder"));
  EXPECT_TRUE(call[5].toStringList().contains("Open folder"));
  QTRY_VERIFY_WITH_TIMEOUT(notifier.Pending(), 5000);  // the answer, id 7, has come back

  host::TSeams seams;
  seams.RecordLaunches = true;
  host::ScopedSeams scope(seams);
  // Another program's notification is not ours to act on.
  QDBusMessage other = QDBusMessage::createSignal(kPath, kService, "ActionInvoked");
  other << 8u << QString("open-folder");
  service.send(other);
  QDBusMessage action = QDBusMessage::createSignal(kPath, kService, "ActionInvoked");
  action << 7u << QString("open-folder");
  service.send(action);
  QTRY_COMPARE_WITH_TIMEOUT(seams.Launched.size(), size_t{1}, 5000);
  EXPECT_EQ(seams.Launched[0], "C:\\docs");
  QDBusMessage closed = QDBusMessage::createSignal(kPath, kService, "NotificationClosed");
  closed << 7u << 2u;
  service.send(closed);
  QTRY_VERIFY_WITH_TIMEOUT(!notifier.Pending(), 5000);
  EXPECT_EQ(seams.Launched.size(), 1u);
}

TEST_F(DesktopNotifications, NothingIsSentWithoutANotificationService) {
  const QDBusConnection client = QDBusConnection::connectToBus(address, "notify-client");
  ASSERT_TRUE(client.isConnected());
  wizard::TDesktopNotifier notifier(client);
  EXPECT_FALSE(notifier.Notify("Extraction finished", "body", "C:\\docs"));
  EXPECT_EQ(notifier.Sent(), 0);
  // Nor on a connection that has no bus at all.
  wizard::TDesktopNotifier unconnected(QDBusConnection("no-such-connection"));
  EXPECT_FALSE(unconnected.Notify("Extraction finished", "body", "C:\\docs"));
}

}  // namespace
