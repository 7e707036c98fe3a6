// Prints what a screen reader sees of the programs on the accessibility bus
// (AT-SPI): one line per object that is showing, indented by depth, as
// "role: name". Objects not showing (hidden pages, closed windows) are left out
// with everything below them. The bus address is AT_SPI_BUS_ADDRESS, else the
// one the session bus's org.a11y.Bus names. Exits 1 when no bus can be reached.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <cstdio>

namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kRoot = "/org/a11y/atspi/accessible/root";
constexpr unsigned kShowing = 25;  // AT-SPI state numbers
constexpr unsigned kChecked = 4;

struct Ref {
    QString service;
    QString path;
};

QDBusMessage call(QDBusConnection& bus, const Ref& at, const char* interface, const char* method,
                  const QVariantList& args = {}) {
    QDBusMessage m = QDBusMessage::createMethodCall(at.service, at.path, interface, method);
    m.setArguments(args);
    return bus.call(m, QDBus::Block, 2000);
}

QList<Ref> children(QDBusConnection& bus, const Ref& at) {
    QList<Ref> out;
    const QDBusMessage reply = call(bus, at, kAccessible, "GetChildren");
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return out;
    const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        Ref r;
        QDBusObjectPath path;
        arg.beginStructure();
        arg >> r.service >> path;
        arg.endStructure();
        r.path = path.path();
        out.append(r);
    }
    arg.endArray();
    return out;
}

QString text(QDBusConnection& bus, const Ref& at, const char* method) {
    const QDBusMessage reply = call(bus, at, kAccessible, method);
    return reply.arguments().isEmpty() ? QString() : reply.arguments().at(0).toString();
}

QString name(QDBusConnection& bus, const Ref& at) {
    const QDBusMessage reply = call(bus, at, "org.freedesktop.DBus.Properties", "Get",
                                    {QString(kAccessible), QString("Name")});
    if (reply.arguments().isEmpty()) return {};
    return reply.arguments().at(0).value<QDBusVariant>().variant().toString();
}

// The state bits (two 32-bit words); empty when the object does not answer.
QList<unsigned> states(QDBusConnection& bus, const Ref& at) {
    QList<unsigned> words;
    const QDBusMessage reply = call(bus, at, kAccessible, "GetState");
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return words;
    const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        unsigned w = 0;
        arg >> w;
        words.append(w);
    }
    arg.endArray();
    return words;
}

bool has(const QList<unsigned>& words, unsigned state) {
    const int word = static_cast<int>(state / 32);
    return word < words.size() && (words[word] & (1u << (state % 32))) != 0;
}

int printed = 0;

void walk(QDBusConnection& bus, const Ref& at, int depth) {
    if (depth > 40 || printed > 5000) return;
    const QList<unsigned> s = states(bus, at);
    if (depth > 0 && !has(s, kShowing)) return;
    std::printf("%*s%s: %s%s\n", depth * 2, "", qPrintable(text(bus, at, "GetRoleName")),
                qPrintable(name(bus, at)), has(s, kChecked) ? " [checked]" : "");
    ++printed;
    for (const Ref& c : children(bus, at))
        walk(bus, c, depth + 1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString address = qEnvironmentVariable("AT_SPI_BUS_ADDRESS");
    if (address.isEmpty()) {
        QDBusConnection session = QDBusConnection::sessionBus();
        QDBusMessage m = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                        "org.a11y.Bus", "GetAddress");
        const QDBusMessage reply = session.call(m, QDBus::Block, 2000);
        if (!reply.arguments().isEmpty()) address = reply.arguments().at(0).toString();
    }
    if (address.isEmpty()) {
        std::fprintf(stderr, "a11y_probe: no accessibility bus\n");
        return 1;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(address, "a11y");
    if (!bus.isConnected() || !bus.interface()) {
        std::fprintf(stderr, "a11y_probe: cannot reach the accessibility bus %s\n",
                     qPrintable(address));
        return 1;
    }
    // Every program on the bus that answers for an accessible root.
    for (const QString& service : bus.interface()->registeredServiceNames().value()) {
        if (!service.startsWith(':') || service == bus.baseService()) continue;
        const Ref root{service, kRoot};
        if (text(bus, root, "GetRoleName") != "application") continue;
        walk(bus, root, 0);
    }
    return 0;
}
