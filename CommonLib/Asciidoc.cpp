#include "Asciidoc.h"

#include <QByteArray>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>

#include <cstring>

namespace {

// Buffer of the disk files the document reads, writes and prints through.
const int DocumentBufferSize = 2048;
const char FormFeed = 12;

int CompareLines(TString** a, TString** b) {
    return (*a)->Compare(**b, false);
}
int CompareLinesIgnoringCase(TString** a, TString** b) {
    return (*a)->Compare(**b, true);
}

QString ToQString(const TString& text) {
    return QString::fromLocal8Bit(text(), text.Length());
}

TString FromQString(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return TString(bytes.constData(), static_cast<int>(bytes.size()));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TStringFile

TStringFile::TStringFile(TString& text) : FText(&text), FPosition(0) {
    TestEof();
}

void TStringFile::TestEof() {
    FEof = FPosition < 0 || FPosition >= FText->Length() || (*FText)[FPosition] == 0;
}

void TStringFile::Open(const char*, int) {
    TestEof();
}

void TStringFile::Read(void* buffer, int length) {
    if (length <= 0)
        return;
    if (FPosition < 0 || length > FText->Length() - FPosition)
        RaiseError("Cannot read: %s", MemoryFileName);
    memcpy(buffer, FText->operator()() + FPosition, static_cast<size_t>(length));
    FPosition += length;
    TestEof();
}

int TStringFile::ReadByte() {
    if (FPosition < 0 || FPosition >= FText->Length())
        RaiseError("Cannot read: %s", MemoryFileName);
    const int c = static_cast<signed char>((*FText)[FPosition]);
    ++FPosition;
    TestEof();
    return c;
}

void TStringFile::Write(const void* data, int length) {
    if (length <= 0)
        return;
    if (FPosition < 0)
        RaiseError("Cannot write: %s", MemoryFileName);
    FText->Replace(static_cast<const char*>(data), length, FPosition);
    FPosition += length;
    TestEof();
}

void TStringFile::Seek(int position) {
    FPosition = position;
    TestEof();
}

int TStringFile::Size() const {
    return FText->Length();
}

// ---------------------------------------------------------------------------------------------
// TAsciiDoc

TAsciiDoc::TAsciiDoc() : TSortableVector<TString*>(true) {}

TAsciiDoc::TAsciiDoc(const TAsciiDoc& other) : TSortableVector<TString*>(true) {
    Copy(other);
}

TAsciiDoc& TAsciiDoc::operator=(const TAsciiDoc& other) {
    Copy(other);
    return *this;
}

void TAsciiDoc::Copy(const TAsciiDoc& other) {
    if (&other == this)
        return;
    RemoveAll();
    for (int i = 0; i < other.Count(); ++i)
        Add(other[i]);
}

void TAsciiDoc::Add(const TString& line) {
    TSortableVector<TString*>::Add(new TString(line));
}

void TAsciiDoc::Add(const TString& line, int i) {
    TString* copy = new TString(line);
    try {
        Insert(copy, i);
    } catch (...) {
        delete copy;
        throw;
    }
}

bool TAsciiDoc::operator==(const TAsciiDoc& other) const {
    if (Count() != other.Count())
        return false;
    for (int i = 0; i < Count(); ++i) {
        const TString& a = (*this)[i];
        const TString& b = other[i];
        if (a.Length() != b.Length() || memcmp(a(), b(), static_cast<size_t>(a.Length())) != 0)
            return false;
    }
    return true;
}

void TAsciiDoc::Sort(bool ignoreCase) {
    TSortableVector<TString*>::Sort(ignoreCase ? &CompareLinesIgnoringCase : &CompareLines);
}

int TAsciiDoc::FindString(const TString& s, bool ignoreCase) const {
    for (int i = 0; i < Count(); ++i)
        if ((*this)[i].Compare(s, ignoreCase) == 0)
            return i;
    return -1;
}

int TAsciiDoc::FindSubString(const TString& s, bool ignoreCase) const {
    return FindFromPosition(s, 0, ignoreCase);
}

int TAsciiDoc::FindFromPosition(const TString& s, int from, bool ignoreCase) const {
    for (int i = from > 0 ? from : 0; i < Count(); ++i)
        if ((*this)[i].Find(s, ignoreCase) >= 0)
            return i;
    return -1;
}

int TAsciiDoc::FindAtStart(const TString& s, bool ignoreCase) const {
    for (int i = 0; i < Count(); ++i)
        if ((*this)[i].Find(s, ignoreCase) == 0)
            return i;
    return -1;
}

void TAsciiDoc::StripTrailingBlankLines() {
    while (Count() > 0 && (*this)[Count() - 1].IsBlank())
        Remove(Count() - 1);
}

void TAsciiDoc::Read(TFile* file) {
    RemoveAll();
    while (!file->AtEof()) {
        TString line;
        line.Read(file, '\n', true, true);
        Add(line);
    }
}

void TAsciiDoc::Write(TFile* file) const {
    for (int i = 0; i < Count(); ++i)
        (*this)[i].Write(file, "\r\n", 2);
}

void TAsciiDoc::Load(const char* path) {
    TBufFile file(DocumentBufferSize);
    file.Open(path, FileReadOnly);
    Read(&file);
    file.Close();
}

void TAsciiDoc::Save(const char* path) const {
    TBufFile file(DocumentBufferSize);
    file.Open(path, FileCreate | FileTruncate | FileReadWrite);
    Write(&file);
    // Closing here rather than in the destructor lets a failed last write raise.
    file.Close();
}

void TAsciiDoc::LoadFromString(const TString& text) {
    TString source(text);
    TStringFile file(source);
    Read(&file);
}

void TAsciiDoc::SaveToString(TString& text) const {
    // Starting from an empty text leaves nothing of an older one behind the document.
    text = "";
    TStringFile file(text);
    Write(&file);
}

void TAsciiDoc::LoadFromMemo(const QPlainTextEdit* memo) {
    LoadFromString(FromQString(memo->toPlainText()));
}

void TAsciiDoc::SaveToMemo(QPlainTextEdit* memo, bool clear) const {
    const bool updates = memo->updatesEnabled();
    memo->setUpdatesEnabled(false);
    if (clear)
        memo->clear();
    if (Count() > 0) {
        // One paragraph append keeps leading empty lines, which single appends to an empty
        // memo would swallow.
        QStringList lines;
        SaveToStringList(lines);
        memo->appendPlainText(lines.join(QLatin1Char('\n')));
    }
    memo->setUpdatesEnabled(updates);
}

void TAsciiDoc::LoadFromStringList(const QStringList& list) {
    RemoveAll();
    for (const QString& line : list)
        Add(FromQString(line));
}

void TAsciiDoc::SaveToStringList(QStringList& list) const {
    list.clear();
    list.reserve(Count());
    for (int i = 0; i < Count(); ++i)
        list.append(ToQString((*this)[i]));
}

void TAsciiDoc::Print(const char* device, int margin, int topLines, bool formFeed) const {
    TBufFile file(DocumentBufferSize);
    file.Open(device, FileReadWrite);
    auto writeTopMargin = [&]() {
        for (int i = 0; i < topLines; ++i)
            file.Write("\r\n", 2);
    };
    file.Write("\r", 1);
    writeTopMargin();
    const TString marginText(margin > 0 ? margin : 0, ' ');
    for (int i = 0; i < Count(); ++i) {
        const TString& line = (*this)[i];
        const TString text = marginText + line();
        if (i == Count() - 1) {
            text.Write(&file, &FormFeed, formFeed ? 1 : 0);
        } else if (!line.IsBlank() && line[line.Length() - 1] == FormFeed) {
            text.Write(&file, "\r", 1);
            writeTopMargin();
        } else {
            text.Write(&file, "\r\n", 2);
        }
    }
    // A printout into a longer existing file must not keep the old file's tail.
    const int printed = file.Tell();
    if (file.Size() > printed)
        file.Truncate(printed);
    file.Close();
}
