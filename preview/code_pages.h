#pragma once

// The character tables a receipt printer selects with ESC t, for the bytes
// 0x80 to 0xFF; below that every supported table is ASCII.
enum class TCodePage { Pc437, Pc850, Pc858, Wpc1252 };

// The table ESC t n selects; false when this renderer has no table for n.
bool CodePageForSelector(int selector, TCodePage& page);

// The Unicode character a byte stands for in a table. Bytes a table leaves
// undefined come back as '?'.
char16_t CodePageCharacter(TCodePage page, unsigned char byte);
