// The stored list of board types and the factory import, on a settings store in a scratch
// folder. Input: a TypeDefs value, a name, an entry "name;sectors;protect;sram;flash", then
// the text of a FactoryDefaults.ini.
// Properties: the store gives back what was written; adding, replacing and removing change the
// named entries only and never lose, split or merge the others; every factory row the import
// accepts becomes exactly one stored entry with its name and sections.

#include "AppGlobals.h"
#include "Ebdata.h"
#include "FuzzSupport.h"
#include "LibError.h"
#include "Misc.h"
#include "Settings.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const TypeDefsValue = "TypeDefs";

bool SameEntry(const TTypeDef& a, const TTypeDef& b) {
    return a.Name == b.Name() && a.Sectors == b.Sectors() && a.Protect == b.Protect() &&
           a.SramSize == b.SramSize() && a.FlashStart == b.FlashStart();
}

std::string Describe(const std::vector<TTypeDef>& entries) {
    std::string text;
    for (const TTypeDef& entry : entries)
        text += std::string("[") + TypeDefText(entry)() + "]";
    return text;
}

void CheckEntries(const char* operation, const std::vector<TTypeDef>& expected,
                  const TString& stored, const TString& before) {
    const std::vector<TTypeDef> entries = SplitTypeDefs(stored);
    bool same = entries.size() == expected.size();
    for (size_t i = 0; same && i < entries.size(); ++i)
        same = SameEntry(entries[i], expected[i]);
    FUZZ_CHECK(same, "%s on \"%s\" stored \"%s\": entries %s, expected %s", operation, before(),
               stored(), Describe(entries).c_str(), Describe(expected).c_str());
}

// A field as the preferences dialog stores it: no separator, no quote, no blank at either end.
bool StorableField(const TString& field) {
    const char* text = field;
    const size_t length = std::strlen(text);
    return !std::strpbrk(text, ";|\"") &&
           (length == 0 || (text[0] != ' ' && text[length - 1] != ' '));
}

bool StorableEntry(const TTypeDef& entry) {
    return !entry.Name.IsBlank() && StorableField(entry.Name) && StorableField(entry.Sectors) &&
           StorableField(entry.Protect) && StorableField(entry.SramSize) &&
           StorableField(entry.FlashStart);
}

TTypeDef EntryOf(const std::string& text) {
    const TString fields(text.c_str());
    return {fields.AsciiWord(0, ';', true), fields.AsciiWord(1, ';', true),
            fields.AsciiWord(2, ';', true), fields.AsciiWord(3, ';', true),
            fields.AsciiWord(4, ';', true)};
}

TString Stored(const TSettingsKey& key) {
    return key.ReadString(TypeDefsValue);
}

void CheckStoreEdits(const TString& typeDefs, const TTypeDef& entry) {
    TSettingsKey key;
    FUZZ_CHECK(key.IsOpen(), "the scratch settings store cannot be opened");
    FUZZ_CHECK(key.WriteString(TypeDefsValue, typeDefs), "TypeDefs cannot be written");
    FUZZ_CHECK(Stored(key) == typeDefs, "stored \"%s\", read back \"%s\"", typeDefs(),
               Stored(key)());

    const std::vector<TTypeDef> entries = SplitTypeDefs(typeDefs);
    std::vector<TString> names;
    const int selected = ListTypeNames(key, &names);
    FUZZ_CHECK(names.size() == entries.size() && selected < static_cast<int>(names.size()) &&
                   (names.empty() ? selected == -1 : selected >= 0),
               "%zu names, %zu entries, preselected %d", names.size(), entries.size(), selected);

    if (!StorableEntry(entry))
        return;
    std::vector<TTypeDef> added(entries);
    added.push_back(entry);
    FUZZ_CHECK(AddTypeDef(key, entry), "adding failed");
    CheckEntries("adding", added, Stored(key), typeDefs);

    TTypeDef first;
    FUZZ_CHECK(FindTypeDef(Stored(key), entry.Name, &first), "the added entry is not found");
    const TTypeDef sections = ReadTypeSections(key, entry.Name);
    FUZZ_CHECK(SameEntry(sections, {entry.Name, first.Sectors, first.Protect, first.SramSize,
                                    first.FlashStart}),
               "sections of %s differ from the entry found", entry.Name());

    std::vector<TTypeDef> replaced;
    std::vector<TTypeDef> removed;
    for (const TTypeDef& stored : entries) {
        const bool named = stored.Name.Equals(entry.Name, true);
        replaced.push_back(named ? entry : stored);
        if (!named)
            removed.push_back(stored);
    }
    key.WriteString(TypeDefsValue, typeDefs);
    FUZZ_CHECK(ReplaceTypeDefs(key, entry.Name, entry), "replacing failed");
    CheckEntries("replacing", replaced, Stored(key), typeDefs);
    key.WriteString(TypeDefsValue, typeDefs);
    FUZZ_CHECK(RemoveTypeDefs(key, entry.Name), "removing failed");
    CheckEntries("removing", removed, Stored(key), typeDefs);
}

TString WithoutQuotes(TString text) {
    text.Remove('"');
    return text;
}

void CheckFactoryImport(const std::string& ini) {
    const std::string path = WriteScratchFile("FactoryDefaults.ini", ini.data(), ini.size());
    try {
        ImportFactoryDefaults();
    } catch (const TException&) {
        return; // a file that cannot be read is reported, not imported
    }
    std::vector<TString> rows;
    FUZZ_CHECK(ReadFactoryRows(path.c_str(), &rows), "the imported file cannot be read again");
    std::vector<TString> accepted;
    for (const TString& row : rows) {
        TString name;
        TString sections;
        TString reason;
        if (CheckFactoryRow(row, &name, &sections, &reason))
            accepted.push_back(WithoutQuotes(name + ";" + sections));
    }
    const TString stored = Stored(TSettingsKey());
    const std::vector<TTypeDef> entries = SplitTypeDefs(stored);
    bool same = entries.size() == accepted.size();
    for (size_t i = 0; same && i < entries.size(); ++i) {
        const TString row = accepted[i];
        same = WithoutQuotes(entries[i].Name) == row.AsciiWord(0, ';', true)() &&
               TypeDefText(entries[i]) == TypeDefText(EntryOf(row()))();
    }
    FUZZ_CHECK(same, "%zu rows accepted, %zu entries stored: \"%s\"", accepted.size(),
               entries.size(), stored());
}

std::vector<std::string> Parts(const uint8_t* data, size_t size) {
    std::vector<std::string> parts(3);
    size_t part = 0;
    size_t i = 0;
    for (; i < size && part < parts.size(); ++i) {
        if (data[i] == '\n')
            ++part;
        else if (data[i] != '\0')
            parts[part] += static_cast<char>(data[i]);
    }
    parts.emplace_back(reinterpret_cast<const char*>(data) + i, size - i);
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The settings store and the start-up folder both live in the scratch folder.
    setenv("XDG_CONFIG_HOME", ScratchFolder().c_str(), 1);
    StartDir = TString((ScratchFolder() + "/").c_str());
    SetMsgBoxPresenter([](int flags, const char*) { return MsgBoxDefaultAnswer(flags); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> parts = Parts(data, size);
    CheckStoreEdits(TString(parts[0].c_str()), EntryOf(parts[2]));
    {
        TSettingsKey key;
        key.WriteString("LastType", parts[1].c_str());
        std::vector<TString> names;
        const int selected = ListTypeNames(key, &names);
        FUZZ_CHECK(selected < static_cast<int>(names.size()), "preselected %d of %zu", selected,
                   names.size());
    }
    CheckFactoryImport(parts[3]);
    return 0;
}
