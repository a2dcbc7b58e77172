#pragma once
// The record of board operations for production benches: one JSON object a line, appended to a
// file that several boards (threads) and several processes may write at once. Each line goes out
// in one write under an exclusive lock on a file opened for appending, so lines never interleave
// or tear.

#include <QJsonObject>
#include <QString>

#include <cstdint>

#include <string>

// Appends the object as one line. False with the reason when the line could not be written
// whole.
bool AppendLogLine(const QString& path, const QJsonObject& entry, std::string* error);

// The SHA-256 of bytes, as lower-case hex.
std::string Sha256Hex(const uint8_t* data, int64_t length);
