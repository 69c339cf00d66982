#include <gtest/gtest.h>

#include <set>

#include "base/utf16.h"
#include "setup/install/install_run_lines.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/message_catalogue.h"
#include "setup/wizard/error_messages.h"
#include "setup/wizard/message_catalogue.h"
#include "setup/wizard/message_tables.h"
#include "setup/wizard/text_format.h"
#include "tests/support/string_table_file.h"

using namespace setup;

namespace {

const testing_support::StringTableFile& Table() {
  static const auto file = testing_support::ReadStringTableFile(VC_STRING_TABLE);
  return file;
}

// The "%s"/"%d" directives of a format, in order.
std::string Directives(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == u'%') {
      out += char(text[i + 1]);
      ++i;
    }
  return out;
}

}  // namespace

TEST(StringTable, EveryKeyHasATextInEveryLanguageWithTheSameDirectives) {
  ASSERT_EQ(Table().error, "");
  const auto& texts = Table().texts;
  for (uint16_t key : CatalogueKeys()) {
    const auto english = texts.find(key);
    ASSERT_NE(english, texts.end()) << key;
    for (int language = 1; language <= 4; ++language) {
      const uint16_t id = TextId(key, language);
      const auto it = texts.find(id);
      ASSERT_NE(it, texts.end()) << "key " << key << " language " << language << " id " << id;
      EXPECT_FALSE(it->second.empty()) << id;
      EXPECT_EQ(Directives(it->second), Directives(english->second)) << "key " << key << " id " << id;
      EXPECT_LE(id, 805);
    }
  }
}

TEST(StringTable, LanguageIndependentAndQuotedTexts) {
  const auto& texts = Table().texts;
  EXPECT_EQ(texts.at(10), u" Quorin ");
  EXPECT_EQ(texts.at(12), u"宋体");
  EXPECT_EQ(texts.at(148), u"English");
  EXPECT_EQ(texts.at(761), u"日本語");
  // Stored exactly, doubled quotation marks and the backslash included.
  EXPECT_EQ(texts.at(373),
            u"Create folder \"\"%s\"\" failed!\n\nA filename can't have a long name, or contain any "
            u"of the following characters:\n\n  \\/:*?\"\"\"\"<>|\n\nPlease select the folder over again.");
  EXPECT_EQ(texts.at(339), u"\r\n\r\nProgram Manager Group:\r\n    ");
  EXPECT_EQ(texts.at(768), u"Size：%s/%s");
  EXPECT_EQ(texts.at(11), u"卸载  %s");
  // Captions fit their 10-character buffer.
  for (uint16_t caption : {423, 437, 443})
    for (int language = 1; language <= 4; ++language)
      EXPECT_LT(texts.at(TextId(caption, language)).size(), size_t(kCaptionCapacity));
}

// An online run repeats only these detail lines on its download page.
TEST(StringTable, DownloadPageShowsOnlyTheClosingInstallLines) {
  const std::set<std::u16string> shown = {u"Create uninstaller: %s", u"Add registry", u"Register components",
                                          u"Completed"};
  size_t found = 0;
  for (const auto& [key, text] : Table().texts) {
    const bool expected = shown.count(text) > 0;
    EXPECT_EQ(ShownOnDownloadPage(key), expected) << key;
    found += expected ? 1 : 0;
  }
  EXPECT_EQ(found, shown.size());
}

namespace {

size_t Count(const std::u16string& text, std::u16string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The accelerator letter of a text ("&" followed by it), upper-cased; 0 for none.
char16_t Accelerator(const std::u16string& text) {
  const size_t at = text.find(u'&');
  if (at == std::u16string::npos || at + 1 == text.size()) return 0;
  const char16_t c = text[at + 1];
  return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
}

}  // namespace

// Translations keep the English text's markup: one accelerator where it has
// one, written "(&X)" at the end of the text or before a trailing " >"; the
// same "\r\n" breaks and quotation marks. Chinese and Japanese
// sentences use full-width punctuation, so no half-width "!" or "?" (the
// file-name rule lists "?" as a character).
TEST(StringTable, TranslationsKeepTheEnglishMarkup) {
  const auto& texts = Table().texts;
  for (uint16_t key : CatalogueKeys()) {
    const std::u16string& english = texts.at(key);
    for (int language = kChineseSimplified; language <= kJapanese; ++language) {
      const uint16_t id = TextId(key, language);
      const std::u16string& text = texts.at(id);
      EXPECT_EQ(Count(text, u"&"), Count(english, u"&")) << "key " << key << " id " << id;
      if (Accelerator(english)) {
        const size_t at = text.find(u"(&");
        ASSERT_NE(at, std::u16string::npos) << id;
        EXPECT_EQ(text[at + 3], u')') << id;
        EXPECT_GE(text[at + 2], u'A') << id;
        EXPECT_LE(text[at + 2], u'Z') << id;
        const std::u16string rest = text.substr(at + 4);
        EXPECT_TRUE(rest.empty() || rest == u" >") << id;
      }
      EXPECT_EQ(Count(text, u"\r\n"), Count(english, u"\r\n")) << id;
      EXPECT_EQ(Count(text, u"\""), Count(english, u"\"")) << id;
      if (key != 373) {
        EXPECT_EQ(Count(text, u"!"), 0u) << id;
        EXPECT_EQ(Count(text, u"?"), 0u) << id;
        EXPECT_EQ(Count(text, u". . ."), 0u) << id;
      }
    }
  }
  // Message-box captions are plain words.
  for (uint16_t caption : {423, 437, 443})
    for (int language = kChineseSimplified; language <= kJapanese; ++language)
      EXPECT_EQ(Count(texts.at(TextId(caption, language)), u"！"), 0u) << caption;
}

// The licence page shows Back, Next (as "I Agree"), Cancel and the two
// choices: each translation gives them five different accelerators.
TEST(StringTable, LicencePageAcceleratorsDiffer) {
  for (int language = kChineseSimplified; language <= kJapanese; ++language) {
    std::u16string letters;
    for (uint16_t key : {167, 176, 165, 355, 357}) {
      const char16_t letter = Accelerator(Table().texts.at(TextId(key, language)));
      ASSERT_NE(letter, 0) << key;
      EXPECT_EQ(letters.find(letter), std::u16string::npos) << "language " << language << " key " << key;
      letters += letter;
    }
  }
}

TEST(MessageCatalogue, LookupByLanguageAndFamilies) {
  // Listed, argument line, triplet, group of four (and the 758-761 group).
  struct Row { uint16_t e, zh, tw, jp; };
  for (const Row& r : {Row{161, 8, 160, 593}, Row{367, 126, 366, 703}, Row{401, 136, 400, 713},
                       Row{491, 99, 490, 676}, Row{506, 504, 505, 731}, Row{515, 513, 514, 734},
                       Row{760, 758, 759, 761}, Row{764, 762, 763, 765}, Row{796, 794, 795, 797},
                       Row{395, 15, 394, 597}}) {
    EXPECT_EQ(TextId(r.e, kEnglish), r.e);
    EXPECT_EQ(TextId(r.e, kChineseSimplified), r.zh) << r.e;
    EXPECT_EQ(TextId(r.e, kChineseTraditional), r.tw) << r.e;
    EXPECT_EQ(TextId(r.e, kJapanese), r.jp) << r.e;
  }
  // An unknown language number shows English; no fallback between languages.
  EXPECT_EQ(TextId(163, 0), 163);
  EXPECT_EQ(TextId(163, 5), 163);
  // Ids outside the catalogue are language-independent.
  EXPECT_EQ(TextId(12, kJapanese), 12);
  EXPECT_EQ(TextId(150, kChineseSimplified), 150);
}

TEST(MessageTables, PromptsByCode) {
  const PromptSpec* p = FindPrompt(0x40005);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->caption, 443);
  EXPECT_EQ(p->text, 463);
  EXPECT_EQ(p->fill, PromptFill::Argument);
  EXPECT_EQ(p->style, box::kIconWarning | box::kYesNo | box::kSecondDefault);
  p = FindPrompt(0x100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->fill, PromptFill::ProductAndVersion);
  EXPECT_EQ(FindPrompt(0x40106)->caption, 423);  // "Prompt!" with an error icon
  EXPECT_EQ(FindPrompt(0x40106)->style, box::kIconError | box::kOk);
  EXPECT_EQ(FindPrompt(0x50108)->style, box::kIconError | box::kAbortRetryIgnore);
  EXPECT_EQ(FindPrompt(0x40101)->style, box::kIconError | box::kRetryCancel);
  EXPECT_EQ(FindPrompt(0x10101)->style, box::kIconInformation | box::kOk);
  // Not in the table: no box.
  EXPECT_EQ(FindPrompt(0x50101), nullptr);
  EXPECT_EQ(FindPrompt(0), nullptr);
}

TEST(MessageTables, StatusReportsByCode) {
  ASSERT_NE(FindStatus(0), nullptr);
  EXPECT_EQ(FindStatus(0)->text, 391);
  EXPECT_EQ(FindStatus(0x5010A)->text, 487);
  EXPECT_EQ(FindStatusWithArgument(0x50003)->text, 377);
  EXPECT_EQ(FindStatusWithArgument(0x50102)->text, 367);
  // Each table answers only its own codes.
  EXPECT_EQ(FindStatus(0x50003), nullptr);
  EXPECT_EQ(FindStatusWithArgument(0x50101), nullptr);
  EXPECT_EQ(FindStatus(0x60000), nullptr);
  // Every referenced text is in the catalogue or language-independent table.
  for (uint32_t code : {0u, 0x10000u, 0x10101u, 0x20000u, 0x30000u, 0x40000u, 0x40102u, 0x50000u,
                        0x50006u, 0x50009u, 0x50101u, 0x50104u, 0x50105u, 0x5010Au})
    EXPECT_TRUE(Table().texts.count(FindStatus(code)->text)) << code;
}

TEST(TextFormat, FillsDirectivesWithinTheBuffer) {
  EXPECT_EQ(FormatText(u"%s %s -- Setup", {u"Quorin", u"V4.0"}, 330), u"Quorin V4.0 -- Setup");
  EXPECT_EQ(FormatText(u"Error code:%d", {int32_t(-10061)}, 330), u"Error code:-10061");
  EXPECT_EQ(FormatText(u"100%% %s", {u"done"}, 330), u"100% done");
  // Missing arguments write nothing; other sequences stay as they are.
  EXPECT_EQ(FormatText(u"%s and %s", {u"one"}, 330), u"one and ");
  EXPECT_EQ(FormatText(u"%x %", {}, 330), u"%x %");
  // Cut to capacity - 1 code units, never inside a surrogate pair.
  EXPECT_EQ(FormatText(u"Warning!", {}, 5), u"Warn");
  EXPECT_EQ(FitBuffer(u"ab\U0001F600", 4), u"ab");
  EXPECT_EQ(FitBuffer(u"abc", 0), u"");
  // A long argument is cut with the text.
  EXPECT_EQ(FormatText(u"Copy file: %s", {std::u16string(1000, u'x')}, 800).size(), 799u);
}

TEST(NetworkErrorText, PicksTheTextByCodeAndPhase) {
  using setup::NetworkErrorText;
  EXPECT_EQ(NetworkErrorText(0, false), 0);
  EXPECT_EQ(NetworkErrorText(10038, true), 0);
  EXPECT_EQ(NetworkErrorText(10000, true), 796);
  EXPECT_EQ(NetworkErrorText(10051, true), 780);
  EXPECT_EQ(NetworkErrorText(10060, false), 772);
  EXPECT_EQ(NetworkErrorText(10061, true), 784);
  EXPECT_EQ(NetworkErrorText(10061, false), 776);
  EXPECT_EQ(NetworkErrorText(10054, false), 792);
  EXPECT_EQ(NetworkErrorText(-1, true), 792);
  // Every text it names exists in all four languages, ids as the family rule says.
  for (uint16_t key : {772, 776, 780, 784, 792, 796}) {
    const setup::TextIds ids = setup::TextIdsOf(key);
    EXPECT_EQ(ids.simplifiedChinese, key - 2);
    EXPECT_EQ(ids.traditionalChinese, key - 1);
    EXPECT_EQ(ids.japanese, key + 1);
  }
}
