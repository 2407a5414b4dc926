// The tool's own texts that are not plain ASCII, as Shift-JIS bytes.
#pragma once

// "ＯＲＶＡより…の画像ファイル", the description of the open-file filter.
inline constexpr char filter_description[] =
    "\x82\x6E\x82\x71\x82\x75\x82\x60\x82\xE6\x82\xE8\x81\x63\x82\xCC\x89\xE6\x91\x9C\x83\x74"
    "\x83\x40\x83\x43\x83\x8B";
inline constexpr char filter_pattern[] = "BFIL.OFB;GFIL.OFB";

// "メモリが足りません。" and a newline.
inline constexpr char out_of_memory_message[] =
    "\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42\n";
