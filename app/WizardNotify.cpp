// The desktop notification over D-Bus (see WizardNotify.h).
#include "app/WizardNotify.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "platform/host.h"

namespace wizard {

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
const char* const kOpenFolderAction = "open-folder";

}  // namespace

TDesktopNotifier::TDesktopNotifier() : TDesktopNotifier(QDBusConnection::sessionBus()) {}

TDesktopNotifier::TDesktopNotifier(const QDBusConnection& bus) : FBus(bus) {}

bool TDesktopNotifier::ServiceRuns() const {
  if (!FBus.isConnected() || !FBus.interface()) return false;
  const QString service = QString::fromLatin1(kService);
  if (FBus.interface()->isServiceRegistered(service)) return true;
  // A notification daemon the bus starts on the first call.
  const QDBusReply<QStringList> activatable = FBus.interface()->activatableServiceNames();
  return activatable.isValid() && activatable.value().contains(service);
}

bool TDesktopNotifier::Notify(const std::string& summary, const std::string& body,
                              const std::string& folder) {
  if (!ServiceRuns()) return false;
  if (!FListening) {
    FBus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                 SLOT(ActionInvoked(uint, QString)));
    FBus.connect(kService, kPath, kInterface, "NotificationClosed", this,
                 SLOT(NotificationClosed(uint, uint)));
    FListening = true;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QVariantMap hints;
  hints.insert("desktop-entry", QStringLiteral("org.parcelo.Parcelo"));
  const QStringList actions =
      folder.empty()
          ? QStringList()
          : QStringList{QStringLiteral("default"), QStringLiteral("Open folder"),
                        QString::fromLatin1(kOpenFolderAction), QStringLiteral("Open folder")};
  call << QStringLiteral("Parcelo") << 0u << QStringLiteral("org.parcelo.Parcelo")
       << QString::fromStdString(summary) << QString::fromStdString(body) << actions << hints << -1;
  // Not waited for: the window goes on at once; the id comes back when the service answers.
  auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, watcher, folder](QDBusPendingCallWatcher*) {
            const QDBusPendingReply<uint> reply = *watcher;
            if (reply.isValid() && !folder.empty()) FFolders[reply.value()] = folder;
            watcher->deleteLater();
          });
  ++FSent;
  return true;
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& actionKey) {
  const auto found = FFolders.find(id);
  if (found == FFolders.end()) return;  // another program's notification
  if (actionKey == QLatin1String("default") || actionKey == QLatin1String(kOpenFolderAction))
    host::ShellOpen(found->second);
}

void TDesktopNotifier::NotificationClosed(uint id, uint) {
  FFolders.erase(id);
}

}  // namespace wizard
