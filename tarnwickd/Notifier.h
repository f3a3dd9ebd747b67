#pragma once

// Readiness and watchdog messages to the service manager: one datagram per message to the socket
// named by $NOTIFY_SOCKET (a path, or an abstract name when it starts with '@').

#include <string>
#include <string_view>

class Notifier {
  public:
    // Uses $NOTIFY_SOCKET; without it, or with an unusable value, every send does nothing.
    Notifier();
    // Uses `address` as $NOTIFY_SOCKET would be used; an empty address disables the notifier.
    explicit Notifier(std::string_view address);
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Sends one message such as "READY=1" or "WATCHDOG=1" without blocking; false when disabled
    // or the datagram could not be sent.
    bool send(std::string_view message) const;

    bool enabled() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
    std::string address_;  // sockaddr_un bytes, abstract names with their leading NUL
};
