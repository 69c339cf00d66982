// Writes the sample product's files, reproducibly: program-like binaries,
// text, a bitmap in a sub-folder, an empty file and an incompressible file;
// the component, printer and configuration files a client package carries.
//   make_sample_files OUT_DIR [--standins DIR] [--scale MB]
// --standins copies the stand-in components built in the Windows tree
// (bin/standins) under the names the product uses; --scale adds MB of mixed
// files.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::mt19937 g_rng(20261208);

void Write(const fs::path& path, const std::vector<unsigned char>& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

// Code-like bytes: repeated short patterns with noise, compresses about 3:1.
std::vector<unsigned char> ProgramLike(size_t size) {
  std::vector<unsigned char> d(size);
  static const unsigned char ops[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x89, 0x45, 0xFC, 0xE8,
                                      0x00, 0x00, 0x00, 0x00, 0xC3, 0x90, 0x6A, 0x00, 0xFF, 0x15};
  for (size_t i = 0; i < size; ++i)
    d[i] = g_rng() % 4 ? ops[(i * 7 + (i >> 5)) % sizeof ops] : static_cast<unsigned char>(g_rng());
  return d;
}

std::vector<unsigned char> Text(size_t size) {
  static const char* words[] = {"conference ", "video ", "server ", "client ", "audio ", "room ",
                                "=", "1\r\n", "[Settings]\r\n", "port", "host"};
  std::string s;
  while (s.size() < size) s += words[g_rng() % 11];
  s.resize(size);
  return {s.begin(), s.end()};
}

std::vector<unsigned char> Random(size_t size) {
  std::vector<unsigned char> d(size);
  for (auto& b : d) b = static_cast<unsigned char>(g_rng());
  return d;
}

std::vector<unsigned char> Bitmap(int w, int h) {
  std::vector<unsigned char> d(54 + w * h * 3, 0);
  d[0] = 'B';
  d[1] = 'M';
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  put32(2, static_cast<uint32_t>(d.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  d[26] = 1;
  d[28] = 24;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char* p = &d[54 + (y * w + x) * 3];
      p[0] = static_cast<unsigned char>(x * 255 / w);
      p[1] = static_cast<unsigned char>(y * 255 / h);
      p[2] = 0x80;
    }
  return d;
}

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// UTF-16LE with a byte-order mark, from ASCII text.
std::vector<unsigned char> Utf16(const std::string& s) {
  std::vector<unsigned char> d = {0xFF, 0xFE};
  for (char c : s) {
    d.push_back(static_cast<unsigned char>(c));
    d.push_back(0);
  }
  return d;
}

// Driver, processor and configuration files of a client package.
void WriteClientFiles(const fs::path& out) {
  for (const char* name : {"STDNAMES.GPD", "UNIDRV.DLL", "UNIDRV.HLP", "UNIDRVUI.DLL", "UNIRES.DLL", "vprinter.dll",
                           "vprinter.GPD", "vpproc.dll", "qedit.dll"})
    Write(out / name, Bytes(std::string("sample stand-in file ") + name + "\r\n"));
  Write(out / "qrplayerex.exe", ProgramLike(16 * 1024));
  Write(out / "wbeditor.exe", ProgramLike(16 * 1024));
  Write(out / "language.ini", Bytes("[language]\r\ntype=gb\r\n"));
  Write(out / "IniFolder" / "tempconfig.ini", Bytes("[Log In]\r\nIP=\r\nUser=\r\n"));
  Write(out / "qrvcos.ini",
        Utf16("[Setting]\r\nServer IP=\r\nUdp Server IP=\r\nMeeting Server IP=\r\nPort=1720\r\n"));
  Write(out / "sysvideo.ini", Utf16("[Video]\r\nMeeting Server IP=\r\n"));
}

// The stand-ins under the product's names.
bool CopyStandins(const fs::path& from, const fs::path& out) {
  const std::pair<const char*, const char*> names[] = {
      {"standin_component.dll", "qrimgoleEx.dll"}, {"standin_component.dll", "RunQrplayer.ocx"},
      {"standin_component.dll", "DavOzodu.vov"},   {"standin_component.dll", "qrgrabber.ax"},
      {"standin_component.dll", "qrimgole.dll"},   {"standin_virtual_printer.dll", "VirtualPrinter.dll"},
      {"standin_encoder.exe", "WMEncoder_cn.exe"}};
  for (const auto& [standin, name] : names) {
    std::error_code ec;
    fs::remove(out / name, ec);  // overwriting copies fail in some runtimes
    fs::copy_file(from / standin, out / name, ec);
    if (ec) {
      std::fprintf(stderr, "make_sample_files: cannot copy %s: %s\n", (from / standin).string().c_str(),
                   ec.message().c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_sample_files OUT_DIR [--standins DIR] [--scale MB]\n");
    return 2;
  }
  const fs::path out = argv[1];
  Write(out / "ZepClient.exe", ProgramLike(96 * 1024));
  Write(out / "Qrdraw.exe", ProgramLike(48 * 1024));
  Write(out / "qrplayer.exe", ProgramLike(40 * 1024));
  Write(out / "qrvoteedit.exe", ProgramLike(24 * 1024));
  Write(out / "readme.txt", Text(6000));
  Write(out / "config" / "client.ini", Text(700));
  Write(out / "VMSkin" / "login.bmp", Bitmap(64, 48));
  Write(out / "empty.dat", {});
  Write(out / "media.bin", Random(20000));
  WriteClientFiles(out);
  size_t mb = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--standins") {
      if (!CopyStandins(argv[i + 1], out)) return 1;
    } else if (option == "--scale") {
      mb = std::stoul(argv[i + 1]);
    } else {
      std::fprintf(stderr, "make_sample_files: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  if (mb) {
    for (size_t i = 0; i * 4 < mb; ++i) {
      const std::string n = std::to_string(i);
      Write(out / "bulk" / ("prog" + n + ".dll"), ProgramLike(2 << 20));
      Write(out / "bulk" / ("doc" + n + ".txt"), Text(1 << 20));
      Write(out / "bulk" / ("data" + n + ".bin"), Random(1 << 20));
    }
  }
  return 0;
}
