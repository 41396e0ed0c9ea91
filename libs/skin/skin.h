// The skinning library's export, bound when the program loads (SkinPlusPlusDLL.dll).
#pragma once
#include <windows.h>

extern "C" int WINAPI InitializeSkin(const char* skinFileName);
