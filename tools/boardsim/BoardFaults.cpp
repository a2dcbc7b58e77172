#include "BoardFaults.h"

#include <cctype>
#include <cstdlib>

namespace {

bool Number(const std::string& text, int base, long limit, long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, base);
    return *end == '\0' && value >= 0 && value <= limit && !std::isspace(text[0]) &&
           text[0] != '-' && text[0] != '+';
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool KindOf(const std::string& name, TFrameKind& kind) {
    const std::string lower = Lower(name);
    if (lower == "sync")
        kind = TFrameKind::Sync;
    else if (lower == "ack")
        kind = TFrameKind::Ack;
    else if (lower == "r")
        kind = TFrameKind::Read;
    else if (lower == "e")
        kind = TFrameKind::Erase;
    else if (lower == "w")
        kind = TFrameKind::WriteStart;
    else if (lower == "d")
        kind = TFrameKind::Data;
    else if (lower == "v")
        kind = TFrameKind::Verify;
    else
        return false;
    return true;
}

// One to sixteen bytes written as hexadecimal pairs: "41", "4E4E".
bool ExtraBytes(const std::string& hex, TFaultRule& rule) {
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 32)
        return false;
    rule.Extra.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        long value = 0;
        if (!Number(hex.substr(i, 2), 16, 255, value))
            return false;
        rule.Extra.push_back(static_cast<uint8_t>(value));
    }
    rule.Action = TFaultAction::Extra;
    return true;
}

// "XX" or "XX:MS": the stray byte, and how late the real answer follows it.
bool StrayByte(const std::string& argument, TFaultRule& rule) {
    const size_t colon = argument.find(':');
    long value = 0, delay = 100;
    if (!Number(argument.substr(0, colon), 16, 255, value) ||
        (colon != std::string::npos && !Number(argument.substr(colon + 1), 10, 600000L, delay)))
        return false;
    rule.Action = TFaultAction::Stray;
    rule.Value = static_cast<uint8_t>(value);
    rule.DelayMs = static_cast<int>(delay);
    return true;
}

bool ActionOf(const std::string& text, TFaultRule& rule) {
    const std::string lower = Lower(text);
    const size_t colon = lower.find(':');
    const std::string name = lower.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : lower.substr(colon + 1);
    long value = 0;
    if (name == "silent" && colon == std::string::npos)
        rule.Action = TFaultAction::Silent;
    else if (name == "lost" && colon == std::string::npos)
        rule.Action = TFaultAction::Lost;
    else if (name == "badsum" && colon == std::string::npos)
        rule.Action = TFaultAction::BadChecksum;
    else if (name == "byte" && Number(argument, 16, 255, value))
        rule.Action = TFaultAction::Byte;
    else if (name == "flash" && Number(argument, 16, 255, value))
        rule.Action = TFaultAction::FlashError;
    else if (name == "short" && Number(argument, 10, 255, value))
        rule.Action = TFaultAction::Short;
    else if (name == "flash" && colon == std::string::npos) {
        rule.Action = TFaultAction::Byte;
        value = 'F';
    } else if (name == "flood" && Number(argument, 16, 255, value))
        rule.Action = TFaultAction::Flood;
    else if (name == "late" && Number(argument, 10, 600000L, value)) {
        rule.Action = TFaultAction::Late;
        rule.DelayMs = static_cast<int>(value);
        value = 0;
    } else if (name == "extra") {
        return ExtraBytes(argument, rule);
    } else if (name == "stray") {
        return StrayByte(argument, rule);
    } else
        return false;
    rule.Value = static_cast<uint8_t>(value);
    return true;
}

// "silent-after:N" or "hangup-after:N"; isLimit tells whether the text was one of them.
bool ParseLimit(const std::string& text, TFaultPlan& plan, bool& isLimit, std::string& error) {
    const std::string lower = Lower(text);
    isLimit = false;
    for (const char* limit : {"silent-after:", "hangup-after:"}) {
        const std::string prefix = limit;
        if (lower.compare(0, prefix.size(), prefix) != 0)
            continue;
        isLimit = true;
        long frames = 0;
        if (!Number(lower.substr(prefix.size()), 10, 1000000000L, frames)) {
            error = "expected a number of frames after " + prefix;
            return false;
        }
        (prefix[0] == 's' ? plan.SilentAfter : plan.HangUpAfter) = static_cast<int>(frames);
        return true;
    }
    return true;
}

// "A" or "A-B" after the '@'.
bool ParseAttempts(const std::string& attempts, TFaultRule& rule, std::string& error) {
    const size_t dash = attempts.find('-');
    long first = 0, last = 0;
    if (!Number(attempts.substr(0, dash), 10, 1000000L, first) || first < 1) {
        error = "attempts count from 1";
        return false;
    }
    last = first;
    if (dash != std::string::npos &&
        (!Number(attempts.substr(dash + 1), 10, 1000000L, last) || last < first)) {
        error = "expected an attempt range such as 1-3";
        return false;
    }
    rule.FirstAttempt = static_cast<int>(first);
    rule.LastAttempt = static_cast<int>(last);
    return true;
}

// "KIND[#OCCURRENCE][@ATTEMPTS]", the part before the '='.
bool ParseTarget(std::string target, TFaultRule& rule, std::string& error) {
    const size_t at = target.find('@');
    if (at != std::string::npos) {
        if (!ParseAttempts(target.substr(at + 1), rule, error))
            return false;
        target.resize(at);
    }
    const size_t hash = target.find('#');
    if (hash != std::string::npos) {
        long occurrence = 0;
        if (!Number(target.substr(hash + 1), 10, 1000000000L, occurrence)) {
            error = "expected a number after #";
            return false;
        }
        rule.Occurrence = static_cast<int>(occurrence);
        target.resize(hash);
    }
    if (!KindOf(target, rule.Kind)) {
        error = "unknown command \"" + target + "\" (sync, ack, R, E, W, D or V)";
        return false;
    }
    return true;
}

} // namespace

const char* FrameKindName(TFrameKind kind) {
    switch (kind) {
    case TFrameKind::Sync:
        return "sync";
    case TFrameKind::Ack:
        return "ack";
    case TFrameKind::Read:
        return "R";
    case TFrameKind::Erase:
        return "E";
    case TFrameKind::WriteStart:
        return "W";
    case TFrameKind::Data:
        return "D";
    case TFrameKind::Verify:
        return "V";
    case TFrameKind::Sram:
        return "SRAM";
    case TFrameKind::Unknown:
        break;
    }
    return "?";
}

bool TFaultRule::KeepsEffect() const {
    return Action == TFaultAction::Late || Action == TFaultAction::Extra ||
           Action == TFaultAction::Flood || Action == TFaultAction::Lost ||
           Action == TFaultAction::Stray;
}

bool TFaultRule::Matches(TFrameKind kind, int occurrence, int attempt) const {
    return kind == Kind && (Occurrence < 0 || Occurrence == occurrence) &&
           attempt >= FirstAttempt && (LastAttempt == 0 || attempt <= LastAttempt);
}

const TFaultRule* TFaultPlan::Find(TFrameKind kind, int occurrence, int attempt) const {
    for (const TFaultRule& rule : Rules)
        if (rule.Matches(kind, occurrence, attempt))
            return &rule;
    return nullptr;
}

bool ParseFault(const std::string& text, TFaultPlan& plan, std::string& error) {
    bool isLimit = false;
    if (!ParseLimit(text, plan, isLimit, error))
        return false;
    if (isLimit)
        return true;

    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        error = "expected KIND[#OCCURRENCE][@ATTEMPTS]=ACTION";
        return false;
    }
    TFaultRule rule;
    if (!ParseTarget(text.substr(0, equals), rule, error))
        return false;
    if (!ActionOf(text.substr(equals + 1), rule)) {
        error = "unknown action \"" + text.substr(equals + 1) +
                "\" (silent, byte:XX, flash:XX, flash, badsum, short:N, late:MS, extra:XX, "
                "flood:XX, stray:XX[:MS] or lost)";
        return false;
    }
    plan.Rules.push_back(rule);
    return true;
}
