#include "capture/locale_formats.h"

TLocaleFormats LocaleFormats;

void LoadLocaleFormats() { LocaleFormats = TLocaleFormats{}; }
