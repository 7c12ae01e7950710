// The desktop notification at the end of a long run, over D-Bus (org.freedesktop.Notifications,
// the freedesktop notification specification; no KDE or GNOME library): a summary, a body and an
// "Open folder" action that opens the destination folder through the host's launcher. When no
// notification service runs on the session bus, nothing is sent and nothing is said.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <map>
#include <string>

namespace wizard {

class TDesktopNotifier : public QObject {
  Q_OBJECT

 public:
  // On the session bus, or on `bus` (tests use a private one).
  TDesktopNotifier();
  explicit TDesktopNotifier(const QDBusConnection& bus);

  // Sends the notification; false when no notification service is there to show it.
  bool Notify(const std::string& summary, const std::string& body, const std::string& folder);
  // How many notifications were sent, and what the service answered for the last one (its id).
  int Sent() const { return FSent; }
  // Notifications still shown whose action can still be taken.
  bool Pending() const { return !FFolders.empty(); }

 private slots:
  void ActionInvoked(uint id, const QString& actionKey);
  void NotificationClosed(uint id, uint reason);

 private:
  bool ServiceRuns() const;

  QDBusConnection FBus;
  bool FListening = false;
  int FSent = 0;
  std::map<uint, std::string> FFolders;  // notification id -> the folder its action opens
};

}  // namespace wizard
