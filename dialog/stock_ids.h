// Ids of the framework's standard commands and stock strings, kept beside
// the program's own (resource.h) so that neither the portable code nor the
// resource scripts reach into the framework for them. Ids only.
#pragma once

#define ID_HELP                   0xE146  // 57670: the standard Help command
#define AFX_IDP_PARSE_STRING_SIZE 61716   // "enter no more than %1 characters"
