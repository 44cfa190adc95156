// SPDX-License-Identifier: MIT
// Looking at a video: what a PLV file holds (--info), and each frame of a
// PLV or raw file as a PNG file (--to-png), through the PLV player library.
//
//   pellucor --info FILE
//   pellucor --to-png FILE PATTERN                               a PLV file
//   pellucor --to-png [--format F] FILE PATTERN WIDTH HEIGHT     a raw file
#pragma once

constexpr const char* INFO_OPTION = "--info";
constexpr const char* TO_PNG_OPTION = "--to-png";

// Whether the first argument asks for --info or --to-png.
bool is_inspection(const char* first_argument);

// Runs --info or --to-png on the arguments after it; returns the exit
// status, or fails with its line.
int run_inspection(const char* mode, int argc, char** argv);
