#include "update/download_speed.h"

#include <cstdio>

namespace update {

std::string FormatSize(uint64_t bytes) {
  const float value = float(bytes);
  char text[32];
  if (value / 1073741824.0f >= 1.0f)
    std::snprintf(text, sizeof text, "%.1fGB", double(value / 1073741824.0f));
  else if (value / 1048576.0f >= 1.0f)
    std::snprintf(text, sizeof text, "%.1fMB", double(value / 1048576.0f));
  else if (value / 1024.0f >= 1.0f)
    std::snprintf(text, sizeof text, "%dKB", int(value / 1024.0f));
  else
    std::snprintf(text, sizeof text, "%dB", int(bytes));
  return text;
}

DownloadSpeed::Tick DownloadSpeed::OnTick(uint64_t downloaded) {
  Tick t;
  if (m_nSamples == 0 && g_ulPreSize == 0) {
    m_ulAccumulated = downloaded;
  } else if (downloaded < g_ulPreSize) {
    t.skipped = true;
    return t;
  } else {
    m_ulAccumulated += downloaded - g_ulPreSize;
  }
  ++m_nSamples;
  t.speed = m_ulAccumulated / m_nSamples;
  g_ulPreSize = downloaded;
  if (m_nSamples >= 10) {
    m_nSamples = 1;
    m_ulAccumulated = t.speed;
  }
  return t;
}

}  // namespace update
