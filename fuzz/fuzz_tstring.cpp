// The string's word, field and word-wrap operations on any text, with any word number, field
// number, separator and line width (negative ones included).
// Properties: words hold no space and there are exactly Words() of them, each found at its
// WordPos; fields beyond AsciiWords() are empty and fields come back trimmed; a negative line
// number gives no line; wrapped lines fit their width, come to an end, and put together hold
// every character of the text but the spaces at the breaks.

#include "FuzzSupport.h"
#include "TString.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace {

std::string WithoutSpaces(const std::string& text) {
    std::string kept;
    for (char c : text)
        if (c != ' ')
            kept += c;
    return kept;
}

void CheckWords(const TString& text, int n) {
    const int count = text.Words();
    FUZZ_CHECK(count >= 0 && count <= text.Length(), "%d words in %d characters", count,
               text.Length());
    for (int i = 0; i < count && i < 64; ++i) {
        const TString word = text.Word(i);
        const int pos = text.WordPos(i);
        FUZZ_CHECK(!word.IsBlank() && word.Find(' ') < 0, "word %d is \"%s\"", i, word());
        FUZZ_CHECK(pos >= 0 && text.Mid(pos, word.Length()) == word(),
                   "word %d \"%s\" is not at %d in \"%s\"", i, word(), pos, text());
    }
    FUZZ_CHECK(text.Word(count).IsBlank(), "a word after the last one in \"%s\"", text());
    if (n >= count)
        FUZZ_CHECK(text.Word(n).IsBlank(), "word %d of %d is \"%s\"", n, count, text.Word(n)());
    const int pos = text.WordPos(n);
    FUZZ_CHECK(pos >= -1 && pos <= text.Length(), "word %d at %d", n, pos);
}

void CheckFields(const TString& text, int n, int separator, bool noQuotes) {
    const int count = text.AsciiWords(separator, noQuotes);
    FUZZ_CHECK(count >= 0 && count <= text.Length() + 1, "%d fields in %d characters", count,
               text.Length());
    const TString field = text.AsciiWord(n, separator, noQuotes);
    if (n >= count)
        FUZZ_CHECK(field.IsBlank(), "field %d of %d is \"%s\"", n, count, field());
    FUZZ_CHECK(field.IsBlank() || (field[0] != ' ' && field[field.Length() - 1] != ' '),
               "field \"%s\" is not trimmed", field());
    if (noQuotes)
        FUZZ_CHECK(field.Find(separator) < 0 || separator == 0, "field \"%s\" holds its separator",
                   field());
}

void CheckWrap(const TString& text, int part, int width, bool keepSpaces) {
    TString line;
    text.WordWrapPart(line, part, width, keepSpaces);
    if (part < 0)
        FUZZ_CHECK(line.IsBlank(), "line %d is \"%s\"", part, line());
    if (width <= 0)
        return;
    std::string joined;
    int lines = 0;
    for (;; ++lines) {
        FUZZ_CHECK(lines <= text.Length() + 1, "wrapping \"%s\" at %d never ends", text(), width);
        if (!text.WordWrapPart(line, lines, width, keepSpaces))
            break;
        FUZZ_CHECK(line.Length() <= width, "line %d \"%s\" is wider than %d", lines, line(), width);
        joined += line();
    }
    // Dropping the spaces at the breaks loses nothing else (a text that starts with a space
    // starts with a blank line, which ends the wrapping).
    if (!keepSpaces && text[0] != ' ')
        FUZZ_CHECK(WithoutSpaces(joined) == WithoutSpaces(text()),
                   "\"%s\" wrapped at %d comes back as \"%s\"", text(), width, joined.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int n = input.ConsumeIntegralInRange(-3, 40);
    const int part = input.ConsumeIntegralInRange(-3, 40);
    const int width = input.ConsumeIntegralInRange(-2, 80);
    const int separator = input.ConsumeIntegral<uint8_t>();
    const bool flag = input.ConsumeBool();
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    const TString text(bytes.c_str());

    CheckWords(text, n);
    CheckFields(text, n, separator, flag);
    CheckWrap(text, part, width, flag);
    return 0;
}
