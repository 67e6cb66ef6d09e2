#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "driver/options.h"
#include "support/rom_builder.h"

namespace zaft {
namespace {

// The text of a man macro line's arguments, joined as they render: ".BI /d \" dir\""
// gives "/d dir". Quotes group, "\-" is a hyphen.
std::string tagText(const std::string& line) {
  std::string text;
  bool quoted = false;
  for (size_t i = line.find(' '); i != std::string::npos && i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && i + 1 < line.size() && line[i + 1] == '-') {
      text += '-';
      ++i;
    } else if (c != ' ' || quoted) {
      text += c;
    }
  }
  return text;
}

// The tags of the OPTIONS section's items (the line after each ".TP") that
// are options: "/" and a letter, with the value's name.
std::set<std::string> documentedOptions(const std::string& page) {
  std::set<std::string> tags;
  std::istringstream lines(page);
  std::string line;
  bool inOptions = false;
  bool tagNext = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
    if (!inOptions) continue;
    if (tagNext && line.rfind(".B", 0) == 0) {
      const std::string tag = tagText(line);
      if (tag.rfind("/", 0) == 0) tags.insert(tag);
    }
    tagNext = line == ".TP";
  }
  return tags;
}

// The manual page has an item for every option the parser takes, named with
// the usage text's value name, and none for an option it does not take.
TEST(ManualPage, ListsEveryOptionOfTheOptionTable) {
  const std::string page = test::readFileText(ZAFT_SOURCE_DIR "/docs/zaft.1");
  const std::set<std::string> documented = documentedOptions(page);
  const std::vector<std::string> forms = optionForms();
  ASSERT_FALSE(forms.empty());
  for (const std::string& form : forms) {
    EXPECT_TRUE(documented.count(form)) << "docs/zaft.1 has no item \"" << form << "\" under OPTIONS";
  }
  for (const std::string& tag : documented) {
    EXPECT_NE(std::find(forms.begin(), forms.end(), tag), forms.end())
        << "docs/zaft.1 documents \"" << tag << "\", which the option table does not take";
  }
}

}  // namespace
}  // namespace zaft
