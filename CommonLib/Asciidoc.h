// A text document held as an ordered list of lines, read from and written to any TFile, and
// TStringFile, a file whose content is a string in memory.
#pragma once

#include "Contain.h"
#include "File.h"
#include "TString.h"

#include <QtCore/qcontainerfwd.h>

class QPlainTextEdit;

// A file over a caller's string (which must outlive it). The end of file is where the text
// ends (or holds a NUL); reading beyond it raises "Cannot read".
class TStringFile : public TFile {
public:
    explicit TStringFile(TString& text);

    bool IsOpen() const override { return true; }
    void Open(const char* path, int mode) override;
    void Read(void* buffer, int length) override;
    // The byte at the position as a signed char value.
    int ReadByte() override;
    // Overwrites from the position, extending the text as needed.
    void Write(const void* data, int length) override;
    void Seek(int position) override;
    int Tell() override { return FPosition; }
    void Close() override {}
    int Size() const override;

    void TestEof();

private:
    TString* FText;
    int FPosition;
};

// An owning, sortable vector of lines: every line is a heap TString deleted with the document.
class TAsciiDoc : public TSortableVector<TString*> {
public:
    TAsciiDoc();
    TAsciiDoc(const TAsciiDoc& other);
    TAsciiDoc& operator=(const TAsciiDoc& other);

    // Replaces the lines with copies of the other document's lines.
    void Copy(const TAsciiDoc& other);
    TString& operator[](int i) const { return *TSortableVector<TString*>::operator[](i); }
    void Add(const TString& line);
    // Inserts before line `i`.
    void Add(const TString& line, int i);
    // Same number of lines, every line byte for byte the same.
    bool operator==(const TAsciiDoc& other) const;

    void Sort(bool ignoreCase);
    // Index of the first matching line, or -1.
    int FindString(const TString& s, bool ignoreCase) const;
    int FindSubString(const TString& s, bool ignoreCase) const;
    int FindFromPosition(const TString& s, int from, bool ignoreCase) const;
    int FindAtStart(const TString& s, bool ignoreCase) const;
    bool Contains(const TString& s, bool ignoreCase) const {
        return FindString(s, ignoreCase) >= 0;
    }
    bool ContainsSubString(const TString& s, bool ignoreCase) const {
        return FindSubString(s, ignoreCase) >= 0;
    }
    bool ContainsAtStart(const TString& s, bool ignoreCase) const {
        return FindAtStart(s, ignoreCase) >= 0;
    }
    // Removes empty lines from the end; lines of spaces stay.
    void StripTrailingBlankLines();

    // Lines end in CR LF or LF; a Ctrl-Z or NUL byte ends the text.
    void Read(TFile* file);
    // Every line followed by CR LF.
    void Write(TFile* file) const;
    void Load(const char* path);
    // Creates the file, or empties an existing one, and writes the document.
    void Save(const char* path) const;
    void LoadFromString(const TString& text);
    // `text` becomes the document's text.
    void SaveToString(TString& text) const;

    void LoadFromMemo(const QPlainTextEdit* memo);
    // Appends the lines to the memo, emptying it first when `clear`.
    void SaveToMemo(QPlainTextEdit* memo, bool clear) const;
    void LoadFromStringList(const QStringList& list);
    void SaveToStringList(QStringList& list) const;

    // Prints to a device or an existing file: `topLines` blank lines at the top of each page, a
    // left margin of `margin` spaces, a new page after every line that ends in a form feed, and
    // a form feed after the last line when `formFeed`.
    void Print(const char* device, int margin, int topLines, bool formFeed) const;
};
