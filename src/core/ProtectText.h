#pragma once
// What a Protect text comes to on a board type, in sectors and addresses, for the preferences
// to show beside the field: the upper number of a range is not itself protected, which is not
// what most people read into "0-8".

#include <string>

class TString;

// "sectors 0 to 7: 0x01000000 to 0x0103FFFF", runs separated by "; "; "no sector protected"
// for an empty text; empty when the sectors, the protect text or the flash start are not valid.
std::string ProtectedRangesText(const TString& sectors, const TString& protect,
                                const TString& flashStart);

// A protect text as stored with the sectors it protects beside it: "0-8 (sectors 0 to 7)",
// "0-0 (none)"; the text alone when it or the sectors are not valid, empty for an empty text.
std::string ProtectedSectorsText(const TString& sectors, const TString& protect);
