// Board type definitions: the flash sector layout, protected sectors, flash start and SRAM
// size of one kind of evaluation board, the checks of their text form, and the stored list of
// definitions (the settings value TypeDefs) with its factory import.
#pragma once

#include "Contain.h"
#include "TString.h"

#include <memory>
#include <vector>

class TSettingsKey;

// One flash sector.
class TSectData {
public:
    TSectData(int start, int length, bool isProtected = false)
        : Start(start), Length(length), Protected(isProtected) {}

    // Address of the sector's last byte.
    int End() const;

    int Start;
    int Length;
    bool Protected;
};

// Checks a Sectors text such as "8x32K,2x32K,30x64K". When sizeText is given it receives the
// total size as a short label ("2M", "512K", "2.2M"), or "0K" for an invalid text.
bool CheckSectors(const TString& text, TString* sizeText = nullptr);

// Checks a Protect text such as "0,2-8,10" against the number of sectors.
bool CheckProtected(const TString& text, int sectorCount);

// Why a type's SRAM size or flash area cannot be used, as the import report puts it behind the
// row (" - SRAM size must be ..."); nullptr when they can, or when a text does not read at all
// (the other checks say so).
const char* TypeRangeRefusal(const TString& sectors, const TString& sramSize,
                             const TString& flashStart);

// Reads a hexadecimal text; spaces, '-' and '.' may separate digit groups ("0100 0000").
// False for anything but digits and separators, and for a value above FFFFFFFF.
bool ParseHexAddress(const TString& text, int* value);

// One board type definition. Built in place by SetSectors, SetProtected, SetFlashStart and
// SetSramSize, in that order, and afterwards only read; it owns its sector records and is
// handed around by pointer, never copied.
class TEBData {
public:
    TEBData();
    explicit TEBData(const TString& name);
    TEBData(const TEBData&) = delete;
    TEBData& operator=(const TEBData&) = delete;

    bool SetSectors(const TString& text);
    bool SetProtected(const TString& text);
    bool SetFlashStart(const TString& text);
    bool SetSramSize(const TString& text);

    TString GetName() const { return Name; }
    int GetSramSize() const { return SramSize; }
    int GetFlashStart() const { return FlashStart; }
    int GetSectorCount() const { return Sectors.Count(); }
    // Sector `index` (0 .. GetSectorCount() - 1).
    const TSectData& GetSector(int index) const;

    // Length of the sector holding `address`; 0 outside the flash.
    int SectorSizeAt(int address) const;
    // Address of the last flash byte; 0 without sectors.
    int FlashEnd() const;
    // Index of the sector holding `address` when that sector is protected, otherwise -1.
    int ProtectedSectorAt(int address) const;

private:
    TString Name;
    int SramSize;
    int FlashStart;
    TVector<TSectData*> Sectors;
};

// ---------------------------------------------------------------------------------------------
// The stored list of definitions: the settings value TypeDefs holds entries separated by '|',
// each of five fields separated by ';'. Entries of any other shape are skipped by the readers
// and dropped by the rewrites; names match ignoring letter case.

// Characters no stored field may hold: the list's two separators, and the double quote that
// its readers take for grouping.
extern const char* const TypeDefReservedCharacters;

// Whether a type name can be stored and found again exactly as it is: not blank and free of
// the reserved characters.
bool IsStorableTypeName(const TString& name);

struct TTypeDef {
    TString Name;
    TString Sectors;
    TString Protect;
    TString SramSize;
    TString FlashStart;
};

// The five-field entries of a TypeDefs text, in stored order.
std::vector<TTypeDef> SplitTypeDefs(const TString& typeDefs);
// One entry in its stored form: the five fields joined by ';'.
TString TypeDefText(const TTypeDef& entry);

// The definition of a stored entry. Stored entries passed the checks when they were imported or
// saved, so the building steps' results are not looked at.
std::unique_ptr<TEBData> BuildTypeDef(const TTypeDef& entry);

// The first entry named `name` (ignoring case), or the first entry at all when `name` is blank.
bool FindTypeDef(const TString& typeDefs, const TString& name, TTypeDef* found);

// The names of all entries in stored order; returns the index to preselect: the last entry
// named `lastType` (ignoring case), else 0; -1 when the list is empty.
int ListTypeNames(const TString& typeDefs, const TString& lastType, std::vector<TString>* names);

// Texts with one entry added, the entries of `name` replaced by `entry`, or removed. Every
// other entry keeps its text as stored, quotes included; a piece that holds a double quote is
// kept even when it does not read as an entry, since a hand-edited quote may have joined
// entries that are still wanted.
TString AddTypeDef(const TString& typeDefs, const TTypeDef& entry);
TString ReplaceTypeDefs(const TString& typeDefs, const TString& name, const TTypeDef& entry);
TString RemoveTypeDefs(const TString& typeDefs, const TString& name);

// The same operations on the settings key, reading TypeDefs afresh each time. The writers
// return false when the new value could not be stored.
int ListTypeNames(const TSettingsKey& key, std::vector<TString>* names);
// Sectors, Protect, SRAM size and Flash start of the first entry named `name`; all four empty
// when there is none (the result's Name is `name`).
TTypeDef ReadTypeSections(const TSettingsKey& key, const TString& name);
bool AddTypeDef(TSettingsKey& key, const TTypeDef& entry);
bool ReplaceTypeDefs(TSettingsKey& key, const TString& name, const TTypeDef& entry);
bool RemoveTypeDefs(TSettingsKey& key, const TString& name);

// Checks one factory row "name=sectors;protect;sram size;flash start". On success `name` and
// `sections` receive the name and the sections text as written (trimmed); otherwise `reason`
// receives the text that the import report puts behind the row (" - missing type name" ...).
// A name that the list could not keep as it is (blank, or holding a reserved character) is
// refused.
bool CheckFactoryRow(const TString& row, TString* name, TString* sections, TString* reason);

// The rows used when there is no factory file, in their order.
std::vector<TString> BuiltInFactoryRows();

// Reads the rows of section [TYPES] of an INI file in file order. False when the file cannot
// be read.
bool ReadFactoryRows(const char* path, std::vector<TString>* rows);

// The TypeDefs value made from factory rows (accepted entries each followed by '|'), and the
// report of the refused rows (empty when every row was accepted).
void BuildFactoryTypeDefs(const std::vector<TString>& rows, TString* typeDefs, TString* report);

// Replaces TypeDefs with the rows of FactoryDefaults.ini in the start-up folder, or with the
// built-in rows when that file does not exist, and shows the refused rows. Raises an error
// when the settings cannot be opened or written, or when the file exists but cannot be read.
void ImportFactoryDefaults();

// Shows a text in an information box, or, when it is longer than a message box takes, in as
// many boxes as it needs: split at line ends where possible, each further box starting with
// `continuedHeading`.
void ShowLongInformation(const TString& text, const char* continuedHeading);
