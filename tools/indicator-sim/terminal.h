#pragma once

// Whether standard output is a terminal (not a pipe or a file).
bool StdoutIsTerminal();

// Makes the console show ANSI colour codes where it needs to be told (Windows consoles).
void EnableColourCodes();
