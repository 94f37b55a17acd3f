// What the link and controller tests share: the names of timeline events, the
// unit's record written out place by place (independently of the program's
// table), the default upload's timeline, and a scratch folder. The literal
// bytes and texts themselves are in expected.h.
#pragma once

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fakes.h"
#include "scratch_dir.h"

namespace ku::test {

using Events = std::vector<std::string>;

inline std::string out(int byte) {
  return "out:" + FakeSerialPort::hex(static_cast<unsigned char>(byte));
}
inline std::string sleep(int ms) {
  return "sleep:" + std::to_string(ms);
}
inline std::string msg(const std::string& text) {
  return "msg:" + text;
}

// " ", a second, "q", a second, the answer read and dropped, "x", then a look
// for the record every 10 ms until it is complete: at the first look (10 ms
// after "x") by default, at the hundredth when the whole second passes without
// 38 characters.
inline Events exchangeTimeline(int looks = 1) {
  Events e = {out(0x20), sleep(1000), out(0x71), sleep(1000), "in", out(0x78)};
  for (int i = 0; i < looks; ++i) {
    e.push_back(sleep(10));
    e.push_back("in");
  }
  return e;
}
inline constexpr int kWholeSecondLooks = 100;

// Where each slot sits in the 38-byte record (positions from 1), as the unit sends it.
struct Place {
  int slot;
  int first;
  enum { Byte, HighFirst, LowFirst } form;
};
inline const Place kPlaces[32] = {
    {0, 1, Place::Byte},        {1, 2, Place::Byte},        {2, 3, Place::Byte},
    {3, 4, Place::Byte},        {4, 5, Place::HighFirst},   {5, 7, Place::HighFirst},
    {6, 9, Place::Byte},        {7, 10, Place::Byte},       {8, 11, Place::Byte},
    {9, 12, Place::Byte},       {10, 13, Place::Byte},      {11, 14, Place::Byte},
    {12, 15, Place::Byte},      {13, 16, Place::Byte},      {14, 17, Place::Byte},
    {15, 18, Place::Byte},      {16, 19, Place::Byte},      {17, 20, Place::Byte},
    {18, 21, Place::Byte},      {19, 22, Place::Byte},      {20, 23, Place::Byte},
    {21, 24, Place::Byte},      {22, 25, Place::Byte},      {23, 26, Place::Byte},
    {24, 27, Place::Byte},      {25, 28, Place::Byte},      {26, 29, Place::Byte},
    {27, 30, Place::HighFirst}, {28, 32, Place::HighFirst}, {29, 34, Place::HighFirst},
    {30, 36, Place::LowFirst},  {31, 38, Place::Byte},
};

// A record whose slots hold values (each within its form's range).
inline std::string makeRecord(const std::array<int, 32>& values) {
  std::string r(38, '\0');
  for (const Place& p : kPlaces) {
    const int v = values[static_cast<std::size_t>(p.slot)];
    auto put = [&](int pos, int byte) {
      r[static_cast<std::size_t>(pos - 1)] = static_cast<char>(byte);
    };
    if (p.form == Place::Byte) {
      put(p.first, v);
    } else if (p.form == Place::HighFirst) {
      put(p.first, v >> 8);
      put(p.first + 1, v & 0xFF);
    } else {
      put(p.first, v & 0xFF);
      put(p.first + 1, v >> 8);
    }
  }
  return r;
}

// Distinct values that would expose any mix-up of positions or byte order.
inline std::array<int, 32> distinctValues() {
  std::array<int, 32> v{};
  for (int s = 0; s < 32; ++s) v[static_cast<std::size_t>(s)] = 101 + s * 3;  // 101..194
  v[0] = 3;
  v[4] = 0x1234;
  v[5] = 0x0266;
  v[27] = 0x7FFF;
  v[28] = 0x0100;
  v[29] = 0x00FF;
  v[30] = 0x3412;
  v[31] = 255;
  return v;
}

// The timeline of one slot's frame: command, 20 ms, its value bytes, 20 ms.
inline void frame(Events& e, int command, const std::vector<int>& valueBytes) {
  e.push_back(out(command));
  e.push_back(sleep(20));
  for (int b : valueBytes) e.push_back(out(b));
  e.push_back(sleep(20));
}
// A command-only slot: the byte, 50 ms.
inline void commandOnly(Events& e, int command) {
  e.push_back(out(command));
  e.push_back(sleep(50));
}

// The default upload's timeline with channel c.
inline Events defaultPass(int c) {
  Events e;
  frame(e, 0x72, {c});
  frame(e, 0x74, {0x00});
  frame(e, 0x76, {0x00});
  frame(e, 0x40, {0x02});
  frame(e, 0x41, {0x03, 0x1F});
  frame(e, 0x42, {0x02, 0x66});
  frame(e, 0x43, {0x0A});
  frame(e, 0x44, {0x0E});
  frame(e, 0x45, {0xCD});
  frame(e, 0x46, {0x12});
  frame(e, 0x47, {0x13});
  frame(e, 0x48, {0x0E});
  frame(e, 0x50, {0x3F});
  frame(e, 0x51, {0x18});
  frame(e, 0x52, {0x5F});
  frame(e, 0x53, {0x3B});
  frame(e, 0x54, {0x30});
  frame(e, 0x55, {0x3E});
  frame(e, 0x60, {0x00});
  frame(e, 0x61, {0x24});
  frame(e, 0x62, {0x40});
  frame(e, 0x63, {0x00});
  frame(e, 0x64, {0x64});
  frame(e, 0x65, {0x64});
  frame(e, 0x66, {0x00});
  frame(e, 0x67, {0x64});
  frame(e, 0x68, {0x64});
  frame(e, 0x27, {0x01, 0x0B});
  frame(e, 0x28, {0x01, 0x0B});
  frame(e, 0x29, {0x00, 0x00});
  commandOnly(e, 0x4F);
  commandOnly(e, 0x5F);
  commandOnly(e, 0x0B);
  commandOnly(e, 0x70);
  return e;
}

using TempDir = test::ScratchDir;

}  // namespace ku::test
