#pragma once
// The counter file of a production line: the next serial number, in decimal, on one line. A
// number is taken under an exclusive lock on the file, and the file is replaced by one that
// holds the number plus one, flushed to disk, before the number is handed out. So no number is
// ever handed out twice: not to two boards of one run, not to two processes on one file, not
// after a crash or a kill (the file is replaced whole by a rename, never written in place, so
// it is never found half-written; a number taken and then lost is skipped, not reused).

#include <cstdint>
#include <mutex>
#include <string>

class TSerialCounter {
public:
    explicit TSerialCounter(std::string path) : Path(std::move(path)) {}

    // The number the next take would give, without taking it; also checks that the file could
    // be replaced. False with the reason.
    bool Peek(uint64_t& next, std::string* error) const;
    // Takes the next number. One larger than largest is refused and left in the file. False
    // with the reason; the number is then not handed out.
    bool Take(uint64_t largest, uint64_t& number, std::string* error);

private:
    const std::string Path;
    std::mutex Lock; // the boards of one process take turns; the file lock keeps others out
};
