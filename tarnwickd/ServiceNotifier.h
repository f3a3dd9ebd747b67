#pragma once

// Readiness and watchdog messages to the service manager: one datagram per message to the socket
// named by $NOTIFY_SOCKET (a path, or an abstract name when it starts with '@').

#include <string>
#include <string_view>

class ServiceNotifier {
  public:
    // Uses $NOTIFY_SOCKET; without it, or with an unusable value, every send does nothing.
    ServiceNotifier();
    // Uses `address` as $NOTIFY_SOCKET would be used; an empty address disables the notifier.
    explicit ServiceNotifier(std::string_view address);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // Sends one message such as "READY=1" or "WATCHDOG=1" without blocking; false when disabled
    // or the datagram could not be sent.
    bool send(std::string_view message) const;

    bool enabled() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
    std::string address_;  // sockaddr_un bytes, abstract names with their leading NUL
};
