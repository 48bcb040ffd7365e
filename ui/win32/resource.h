#pragma once

// Resource numbers shared by ostrevane.rc and the window's code. The program
// icon has the lowest number, so that Windows shows it for the .exe file.
#define IDI_PROGRAM 1
#define IDI_GLOBE 2
#define IDB_BACKGROUND 3
