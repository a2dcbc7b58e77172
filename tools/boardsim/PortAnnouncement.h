// Announces a simulated board's port while it runs: a link in the user's runtime folder that
// the port lists of Korvex and korvex-cli pick up. Pseudo-terminals are not listed by the
// system as serial ports, so without it nobody would find the board.
#ifndef KORVEX_PORTANNOUNCEMENT_H
#define KORVEX_PORTANNOUNCEMENT_H

#include <string>

class TPortAnnouncement {
public:
    TPortAnnouncement() = default;
    ~TPortAnnouncement();
    TPortAnnouncement(const TPortAnnouncement&) = delete;
    TPortAnnouncement& operator=(const TPortAnnouncement&) = delete;

    // Links "<label>-<process id>" to the device; removes links left by simulators that have
    // ended. False with a reason when the link cannot be made.
    bool Announce(const std::string& label, const std::string& device, std::string* error);
    void Withdraw();
    const std::string& LinkPath() const { return Link; }

private:
    std::string Link;
};

#endif
