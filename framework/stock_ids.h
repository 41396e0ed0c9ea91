// Ids the framework itself owns: its standard commands and stock strings.
// Ids only, so that resource scripts can include this file too.
#pragma once

#define ID_HELP                   0xE146  // 57670: the standard Help command
#define AFX_IDP_PARSE_STRING_SIZE 61716   // "enter no more than %1 characters"
