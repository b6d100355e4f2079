#pragma once
// The names of the files of a store directory. Every program that reads or writes a store
// (the program itself, its tools) finds them under exactly these names.

inline constexpr char kIndexFileName[] = "pagorex.idx";
inline constexpr char kDataFileName[] = "pagorex.dat";
inline constexpr char kNewDataFileName[] = "pagorex.new";
inline constexpr char kWorkFileName[] = "pagorex.tmp";
inline constexpr char kSecondWorkFileName[] = "pagorex.2";

