// The numbered download addresses of the configuration: the runtime
// installer's "net2.url1", "net2.url2", ... and the product installer's
// "app.url", "app.url2", ..., tried in the order of their numbers; their keys,
// how many a configuration gives, and the address each stands for. Plain
// values only; setup.exe and the stamping tool number them the same way.
#pragma once

#include "config/config_table.h"

struct MirrorList {
  const wchar_t* prefix;  // what every key of the list starts with
  bool firstBare;         // mirror 1's key is the prefix alone ("app.url")
};

const MirrorList RUNTIME_MIRRORS = {L"net2.url", false};
const MirrorList PRODUCT_MIRRORS = {L"app.url", true};

// Every "vv" of a product address becomes the Windows version's tag ("v2" or "v4").
const wchar_t VERSION_PLACEHOLDER[] = L"vv";

// Code units of a mirror key: the longer prefix, up to 10 digits, the terminator.
const int MIRROR_KEY_SIZE = 20;

// The highest mirror number that a key may carry: six digits. No configuration
// comes near it (a table holds at most CONFIG_MAX_ENTRIES keys).
const int MIRROR_NUMBER_MAX = 999999;

// Mirror `number`'s key (from 1), its number in plain
// decimal, into `key` (MIRROR_KEY_SIZE code units).
void MirrorKey(const MirrorList& list, int number, wchar_t* key);

// The mirror that `key` names: 1, 2, ...; 0 for a key of no mirror of the
// list, a number with a leading zero or above MIRROR_NUMBER_MAX included (and
// "app.url1": the product's first address is "app.url").
int MirrorNumber(const MirrorList& list, const wchar_t* key);

// How many mirrors the table gives: they run from 1 up to the first number
// whose key is missing or has an empty value.
int CountMirrors(const ConfigTable* table, const MirrorList& list);

// A product address with every "vv" replaced by the tag, into `url`
// (URL_BUFFER_SIZE code units: no longer address can be downloaded). False,
// with `url` empty, when it does not fit. A tag is as long as "vv", so `url`
// may be `urlTemplate` itself.
bool ProductInstallerUrl(const wchar_t* urlTemplate, const wchar_t* tag, wchar_t* url);
