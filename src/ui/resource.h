// Dialog and control IDs: named once here, included by the resource script
// and by the C++ code. Plain macros so the resource compiler can read them.
#pragma once

#define IDD_MAIN_DIALOG 101
#define IDD_SETTINGS_DIALOG 103

// Labels and group boxes that the code never addresses.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Main dialog
#define IDC_FILE_LIST 1000
#define IDC_DELETE 1007
#define IDC_EXTRACT 1008
#define IDC_SETTINGS 1009
#define IDC_SEARCH 1010
#define IDC_EXIT 1012
#define IDC_EXTENSION 1037
// Created only while an extract walk runs: entry i of n, and how far the
// current file is.
#define IDC_WALK_COUNT 1050
#define IDC_WALK_PROGRESS 1051
#define IDC_FOLDER 1052        // the listed folder
#define IDC_BROWSE 1053        // picks the listed folder
#define IDC_OPEN_OUTPUTS 1054  // opens the folder of the last walk's outputs
#define IDC_LIST_LABEL 1055    // the label above the list
// The About entry of the system menu (a system command: a multiple of 16
// below 0xF000).
#define IDM_ABOUT 0x0010

// The program's icon; the lowest ID is the one Explorer shows.
#define IDI_KURVANE 1

// Settings dialog
#define IDC_MIN_LENGTH 1025
#define IDC_AUTO_NEWLINE 1026
#define IDC_XOR_VALUE 1027
#define IDC_HALF_DIGITS 1029
#define IDC_HALF_LOWER 1030
#define IDC_HALF_UPPER 1031
#define IDC_HALF_KATAKANA 1032
#define IDC_HALF_SYMBOLS 1033
#define IDC_FULL_HIRAGANA 1035
#define IDC_FULL_KATAKANA 1037
#define IDC_FULL_UPPER 1038
#define IDC_FULL_LOWER 1039
#define IDC_FULL_KANJI 1040
#define IDC_FULL_DIGITS 1041
#define IDC_FULL_CYRILLIC 1042
#define IDC_FULL_GREEK 1043
#define IDC_FULL_SYMBOLS 1044
#define IDC_OUTPUT_UTF8 1045
#define IDC_TEXT_FILTER 1046     // keep only the runs that read as text
#define IDC_MIN_SCORE 1047       // the filter's least score
#define IDC_XOR_AUTO 1048        // finds the XOR value on the first listed file
#define IDC_INPUT_ENCODING 1049  // drop-down list of the input encodings
#define IDC_EXCLUDED_FIRST 2000  // 2000..2011, one per excluded pair
#define IDC_EXEMPT_FIRST 2012    // 2012..2017, one per exempt string
