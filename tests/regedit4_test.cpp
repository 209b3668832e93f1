#include "platform/posix/regedit4.h"

#include <gtest/gtest.h>

#include <chrono>
#include <span>
#include <string>
#include <vector>

namespace reg7140 {
namespace {

std::string bytes_text(std::span<const std::uint8_t> data) {
  return std::string(data.begin(), data.end());
}

std::vector<std::uint8_t> bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string hex_list(std::size_t count, int seed) {
  std::string out;
  static const char digits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) out += ',';
    unsigned b = static_cast<unsigned>(i * 7 + static_cast<std::size_t>(seed)) & 0xFF;
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

// A 300-byte list in the wrapped form, with ragged continuation lines and blanks.
std::string wrapped_300() {
  std::string list = hex_list(300, 3);
  std::string out;
  std::size_t i = 0;
  while (i < list.size()) {
    std::size_t take = std::min<std::size_t>(list.size() - i, 3 * 33);
    out += list.substr(i, take);
    i += take;
    if (i < list.size()) out += "\\\n    ";
  }
  return out;
}

// Every data kind, all six roots, class strings, a repeated key line, implied parents, a
// comment, mixed line ends.
std::string rich_sample() {
  return "REGEDIT4\r\n"
         "\r\n"
         "; written by hand\r\n"
         "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0]\r\n"
         "\"DRIVER\"=\"Net\\\\0000\"\r\n"
         "\"ForcedConfig\"=hex:00,04,00,00,00,00,00,00,\\\r\n"
         "  2c,00,00,00,02,00,00,00\r\n"
         "\"Count\"=dword:0000000A\r\n"
         "@=\"default \\\"quoted\\\"\"\r\n"
         "\n"
         "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0000\\Override]\n"
         ";class=\"MyClass\"\n"
         "\"0000\"=hex:01,02,03\n"
         "\n"
         "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
         "\"Multi\"=hex(7):61,00,62,00,00,00\r\n"
         "\"OddDword\"=hex(4):01,02\r\n"
         "\"Nothing\"=hex(0):\r\n"
         "\"Typed\"=hex(1f):ff\r\n"
         "\"SzNoZero\"=hex(1):41,42\r\n"
         "\"SzInnerZero\"=hex(1):41,00,42,00\r\n"
         "\"Long\"=hex:" +
         wrapped_300() +
         "\r\n"
         "\"Empty\"=\"\"\r\n"
         "\"Path\"=\"C:\\\\WINDOWS\\\\inf\"\r\n"
         "\r\n"
         "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0]\r\n"
         "\"DRIVER\"=\"Net\\\\0001\"\r\n"
         "\"Extra\"=\"x\"\r\n"
         "\r\n"
         "[HKEY_CLASSES_ROOT\\.txt]\r\n"
         ";class=\"with \\\\ and \\\"\"\r\n"
         "@=\"txtfile\"\r\n"
         "\r\n"
         "[HKEY_USERS\\.Default\\Control Panel]\r\n"
         "[HKEY_CURRENT_CONFIG\\Display\\Settings]\r\n"
         "\"Resolution\"=\"640,480\"\r\n"
         "[HKEY_DYN_DATA\\PerfStats]\r\n"
         "\"Bytes\"=hex:ff,fe\r\n";
}

RegistryTree parsed(std::string_view text) {
  RegistryTree tree;
  std::size_t line = 0;
  EXPECT_TRUE(parse_regedit4(text, &tree, &line)) << "line " << line;
  return tree;
}

const RegistryValue* value_at(const RegistryTree& tree, RegistryRoot root, std::string_view path,
                              std::string_view name) {
  RegistryKey* key = RegistryTree::find(tree.root(root), path);
  return key == nullptr ? nullptr : key->find_value(name);
}

TEST(Regedit4Read, RichSampleHasEveryKeyValueAndType) {
  RegistryTree tree = parsed(rich_sample());
  constexpr auto hklm = RegistryRoot::kLocalMachine;
  const std::string instance = "Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0";

  // A repeated key line names one key: the later value replaces, new ones join.
  const RegistryValue* driver = value_at(tree, hklm, instance, "DRIVER");
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->type, 1u);
  EXPECT_EQ(bytes_text(driver->data), std::string("Net\\0001\0", 9));
  ASSERT_NE(value_at(tree, hklm, instance, "Extra"), nullptr);
  RegistryKey* instance_key = RegistryTree::find(tree.root(hklm), instance);
  ASSERT_NE(instance_key, nullptr);
  std::vector<std::string> names;
  for (const auto& v : instance_key->values()) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"DRIVER", "ForcedConfig", "Count", "", "Extra"}));

  const RegistryValue* forced = value_at(tree, hklm, instance, "ForcedConfig");
  ASSERT_NE(forced, nullptr);
  EXPECT_EQ(forced->type, 3u);
  EXPECT_EQ(forced->data,
            (std::vector<std::uint8_t>{0, 4, 0, 0, 0, 0, 0, 0, 0x2c, 0, 0, 0, 2, 0, 0, 0}));
  const RegistryValue* count = value_at(tree, hklm, instance, "count");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->type, 4u);
  EXPECT_EQ(count->data, (std::vector<std::uint8_t>{10, 0, 0, 0}));
  const RegistryValue* deflt = value_at(tree, hklm, instance, "");
  ASSERT_NE(deflt, nullptr);
  EXPECT_EQ(bytes_text(deflt->data), std::string("default \"quoted\"\0", 17));

  // Parents of a key line exist without lines of their own.
  for (std::string_view implied : {"Enum", "ENUM\\PCMCIA", "enum\\pcmcia\\zorvan-nr_32/8_kv-61c7",
                                   "System\\CurrentControlSet\\Services\\Class\\Net"}) {
    RegistryKey* key = RegistryTree::find(tree.root(hklm), implied);
    ASSERT_NE(key, nullptr) << implied;
    EXPECT_FALSE(key->written()) << implied;
  }
  RegistryKey* override_key = RegistryTree::find(
      tree.root(hklm), "System\\CurrentControlSet\\Services\\Class\\Net\\0000\\Override");
  ASSERT_NE(override_key, nullptr);
  EXPECT_TRUE(override_key->has_class());
  EXPECT_EQ(override_key->class_name(), "MyClass");
  RegistryKey* txt = RegistryTree::find(tree.root(RegistryRoot::kClassesRoot), ".txt");
  ASSERT_NE(txt, nullptr);
  EXPECT_EQ(txt->class_name(), "with \\ and \"");

  constexpr auto hkcu = RegistryRoot::kCurrentUser;
  const std::string test = "Software\\Test";
  struct Expected {
    const char* name;
    std::uint32_t type;
    std::string data;
  };
  for (const Expected& e : {
           Expected{"Multi", 7, std::string("a\0b\0\0\0", 6)},
           Expected{"OddDword", 4, "\x01\x02"},
           Expected{"Nothing", 0, ""},
           Expected{"Typed", 0x1f, "\xff"},
           Expected{"SzNoZero", 1, "AB"},
           Expected{"SzInnerZero", 1, std::string("A\0B\0", 4)},
           Expected{"Empty", 1, std::string("\0", 1)},
           Expected{"Path", 1, std::string("C:\\WINDOWS\\inf\0", 15)},
       }) {
    const RegistryValue* v = value_at(tree, hkcu, test, e.name);
    ASSERT_NE(v, nullptr) << e.name;
    EXPECT_EQ(v->type, e.type) << e.name;
    EXPECT_EQ(bytes_text(v->data), e.data) << e.name;
  }
  const RegistryValue* long_value = value_at(tree, hkcu, test, "Long");
  ASSERT_NE(long_value, nullptr);
  ASSERT_EQ(long_value->data.size(), 300u);
  EXPECT_EQ(long_value->data[299], static_cast<std::uint8_t>((299 * 7 + 3) & 0xFF));

  EXPECT_NE(value_at(tree, RegistryRoot::kCurrentConfig, "Display\\Settings", "Resolution"),
            nullptr);
  EXPECT_NE(value_at(tree, RegistryRoot::kDynData, "PerfStats", "Bytes"), nullptr);
  EXPECT_NE(RegistryTree::find(tree.root(RegistryRoot::kUsers), ".Default\\Control Panel"),
            nullptr);
}

TEST(Regedit4Read, LineEndsDoNotMatter) {
  std::string crlf = rich_sample();
  std::string lf;
  for (char c : crlf) {
    if (c != '\r') lf += c;
  }
  std::string dump = canonical_dump(std::string_view(crlf));
  EXPECT_EQ(dump.find("<malformed"), std::string::npos) << dump;
  EXPECT_EQ(dump, canonical_dump(std::string_view(lf)));
}

TEST(Regedit4RoundTrip, WriteThenReadKeepsEveryKeyValueAndType) {
  RegistryTree tree = parsed(rich_sample());
  std::string written = tree.write();
  EXPECT_EQ(canonical_dump(std::string_view(written)), canonical_dump(tree));
  EXPECT_EQ(canonical_dump(std::string_view(written)),
            canonical_dump(std::string_view(rich_sample())));

  // What the writer wrote reads back and is written again byte for byte.
  RegistryTree again = parsed(written);
  EXPECT_EQ(again.write(), written);
}

// The registry file is read in pieces: a line may be split anywhere, CR from LF included, and
// may be longer than the reader's buffer; a failed read makes the file unreadable, not shorter.
class Regedit4Pieces : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Regedit4Pieces, ReadsAsTheWholeText) {
  const std::string text = rich_sample() + "[HKEY_LOCAL_MACHINE\\Long]\r\n\"Blob\"=\"" +
                           std::string(200000, 'x') + "\"\r\n\"After\"=dword:00000002";
  const std::size_t piece = GetParam();
  std::size_t offset = 0;
  RegistryTree tree;
  ASSERT_TRUE(parse_regedit4(
      [&](std::span<char> buffer) {
        const std::size_t n = std::min({piece, buffer.size(), text.size() - offset});
        std::copy_n(text.data() + offset, n, buffer.data());
        offset += n;
        return static_cast<long>(n);
      },
      &tree));
  EXPECT_EQ(canonical_dump(tree), canonical_dump(std::string_view(text)));
  EXPECT_NE(value_at(tree, RegistryRoot::kLocalMachine, "Long", "After"), nullptr);
}

TEST(Regedit4Read, FailedReadIsNoEndOfText) {
  // Everything before the failure is a whole registry: taken for the end, it would parse.
  const std::string text = rich_sample();
  bool given = false;
  RegistryTree tree;
  EXPECT_FALSE(parse_regedit4(
      [&](std::span<char> buffer) -> long {
        if (given) return -1;
        given = true;
        std::copy(text.begin(), text.end(), buffer.begin());
        return static_cast<long>(text.size());
      },
      &tree));
}

INSTANTIATE_TEST_SUITE_P(PieceSizes, Regedit4Pieces, ::testing::Values(1, 2, 7, 65537));

TEST(Regedit4Write, RefusedPieceStopsTheWriting) {
  // The long value fills more than one piece, so that more would follow it.
  RegistryTree tree = parsed(rich_sample() + "[HKEY_LOCAL_MACHINE\\Long]\r\n\"Blob\"=\"" +
                             std::string(600000, 'x') + "\"\r\n[HKEY_LOCAL_MACHINE\\After]\r\n");
  std::size_t pieces = 0;
  EXPECT_FALSE(tree.write([&](std::string_view) { return ++pieces > 1; }));
  EXPECT_EQ(pieces, 1u);
}

TEST(Regedit4Write, LayoutAndOrder) {
  RegistryTree tree = parsed(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\X\\Y]\n"
      "\"b\"=\"2\"\n"
      "\"a\"=\"1\"\n"
      "[HKEY_CURRENT_USER\\Z]\n"
      "[HKEY_LOCAL_MACHINE\\X]\n"
      ";class=\"C\"\n");
  EXPECT_EQ(tree.write(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\X\\Y]\r\n\"b\"=\"2\"\r\n\"a\"=\"1\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Z]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\X]\r\n;class=\"C\"\r\n\r\n");
}

TEST(Regedit4Write, NewKeysFollowTheirParentsSubtree) {
  RegistryTree tree = parsed(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\A]\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\n"
      "[HKEY_LOCAL_MACHINE\\C]\n"
      "[HKEY_LOCAL_MACHINE\\Implied\\D]\n"
      "[HKEY_LOCAL_MACHINE\\E]\n");
  RegistryKey* hklm = tree.root(RegistryRoot::kLocalMachine);
  RegistryKey* a = RegistryTree::find(hklm, "A");
  RegistryKey* b = RegistryTree::find(hklm, "A\\B");
  RegistryKey* implied = RegistryTree::find(hklm, "Implied");
  ASSERT_TRUE(a && b && implied);
  tree.create_key(a, "N");
  tree.create_key(b, "M");
  tree.create_key(implied, "F");
  tree.create_key(hklm, "Last");
  // Many keys in one place force the ranks to be spread out again.
  RegistryKey* c = RegistryTree::find(hklm, "C");
  for (int i = 0; i < 70; ++i) tree.create_key(c, "K" + std::to_string(i));
  RegistryTree::set_value(b, "v", 4, std::vector<std::uint8_t>{1, 0, 0, 0});

  std::string expected =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\A]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=dword:00000001\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\B\\M]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\N]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\C]\r\n\r\n";
  for (int i = 0; i < 70; ++i) {
    expected += "[HKEY_LOCAL_MACHINE\\C\\K" + std::to_string(i) + "]\r\n\r\n";
  }
  expected +=
      "[HKEY_LOCAL_MACHINE\\Implied\\D]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Implied\\F]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\E]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Last]\r\n\r\n";
  EXPECT_EQ(tree.write(), expected);

  // Taking a creation back leaves the file as it was before it.
  RegistryKey* extra = tree.create_key(a, "Extra");
  tree.remove_leaf_key(extra);
  EXPECT_EQ(tree.write(), expected);
  EXPECT_EQ(RegistryTree::find(hklm, "A\\Extra"), nullptr);
}

struct ValueCase {
  const char* label;
  std::uint32_t type;
  std::string data;
  std::string line;  // as written, without the line end
};

class Regedit4ValueForm : public testing::TestWithParam<ValueCase> {};

TEST_P(Regedit4ValueForm, WrittenSoThatItReadsBackTheSame) {
  const ValueCase& c = GetParam();
  RegistryTree tree;
  RegistryKey* key = tree.create_key(tree.root(RegistryRoot::kLocalMachine), "K");
  RegistryTree::set_value(key, "v", c.type, bytes(c.data));
  std::string written = tree.write();
  std::string header = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
  EXPECT_EQ(written, header + c.line + "\r\n\r\n");

  RegistryTree back = parsed(written);
  const RegistryValue* v = value_at(back, RegistryRoot::kLocalMachine, "K", "v");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, c.type);
  EXPECT_EQ(bytes_text(v->data), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Types, Regedit4ValueForm,
    testing::Values(
        ValueCase{"SzText", 1, std::string("Net\\0000\0", 9), "\"v\"=\"Net\\\\0000\""},
        ValueCase{"SzEmpty", 1, std::string("\0", 1), "\"v\"=\"\""},
        ValueCase{"SzQuoteAndHighBytes", 1, std::string("a\"\xe9\t\0", 5), "\"v\"=\"a\\\"\xe9\t\""},
        ValueCase{"SzNoZero", 1, "ab", "\"v\"=hex(1):61,62"},
        ValueCase{"SzNoBytes", 1, "", "\"v\"=hex(1):"},
        ValueCase{"SzTwoZeros", 1, std::string("a\0\0", 3), "\"v\"=hex(1):61,00,00"},
        ValueCase{"SzInnerZero", 1, std::string("a\0b\0", 4), "\"v\"=hex(1):61,00,62,00"},
        ValueCase{"SzLineFeed", 1, std::string("a\nb\0", 4), "\"v\"=hex(1):61,0a,62,00"},
        ValueCase{"SzCarriageReturn", 1, std::string("a\r\0", 3), "\"v\"=hex(1):61,0d,00"},
        ValueCase{"Dword", 4, std::string("\x0a\x00\x00\x80", 4), "\"v\"=dword:8000000a"},
        ValueCase{"DwordShort", 4, "\x01\x02", "\"v\"=hex(4):01,02"},
        ValueCase{"DwordLong", 4, std::string("\x01\0\0\0\0", 5), "\"v\"=hex(4):01,00,00,00,00"},
        ValueCase{"Binary", 3, "\x01\xff", "\"v\"=hex:01,ff"},
        ValueCase{"BinaryEmpty", 3, "", "\"v\"=hex:"},
        ValueCase{"None", 0, "\x05", "\"v\"=hex(0):05"},
        ValueCase{"MultiSz", 7, std::string("a\0\0", 3), "\"v\"=hex(7):61,00,00"},
        ValueCase{"HighType", 0x12345678, "\x01", "\"v\"=hex(12345678):01"}),
    [](const testing::TestParamInfo<ValueCase>& param_info) {
      return std::string(param_info.param.label);
    });

TEST(Regedit4Write, LongHexListsWrapLikeRegedit) {
  RegistryTree tree;
  RegistryKey* key = tree.create_key(tree.root(RegistryRoot::kLocalMachine), "K");
  std::vector<std::uint8_t> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  RegistryTree::set_value(key, "ForcedConfig", 3, data);
  RegistryTree::set_value(key, "Short", 3, std::vector<std::uint8_t>(30, 0xab));
  std::string written = tree.write();

  // The first line holds 22 bytes after the 12-column prefix; the rest continue indented.
  std::string expected_short = "\"Short\"=hex:";
  for (int i = 0; i < 22; ++i) expected_short += "ab,";
  expected_short += "\\\r\n  ab,ab,ab,ab,ab,ab,ab,ab\r\n";
  EXPECT_NE(written.find(expected_short), std::string::npos) << written;

  std::size_t start = written.find("\"ForcedConfig\"");
  std::size_t end = written.find("\"Short\"");
  ASSERT_LT(start, end);
  std::string block = written.substr(start, end - start);
  std::size_t lines = 0;
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t eol = block.find("\r\n", pos);
    ASSERT_NE(eol, std::string::npos);
    std::string line = block.substr(pos, eol - pos);
    bool last = eol + 2 == block.size();
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_GE(line.size(), last ? 4u : 70u) << line;
    if (lines > 0) {
      EXPECT_EQ(line.substr(0, 3).find_first_not_of(' '), 2u) << line;
    }
    if (!last) {
      EXPECT_EQ(line.substr(line.size() - 2), ",\\") << line;
    }
    ++lines;
    pos = eol + 2;
  }
  EXPECT_GE(lines, 12u);
  RegistryTree back = parsed(written);
  const RegistryValue* v = value_at(back, RegistryRoot::kLocalMachine, "K", "forcedconfig");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->data, data);
}

TEST(Regedit4Names, FoldAsciiCaseOnlyAndKeepTheirCase) {
  RegistryTree tree = parsed(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7]\n"
      "\"Name\"=\"1\"\n"
      "[HKEY_LOCAL_MACHINE\\Caf\xc9]\n"
      "[hkey_local_machine\\ENUM\\pcmcia]\n"
      "\"NAME\"=\"2\"\n");
  RegistryKey* hklm = tree.root(RegistryRoot::kLocalMachine);
  RegistryKey* device = RegistryTree::find(hklm, "enum\\Pcmcia\\zorvan-nr_32/8_kv-61C7");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->name(), "ZORVAN-NR_32/8_KV-61C7");
  EXPECT_EQ(device->parent()->name(), "PCMCIA");
  // Only ASCII letters fold.
  EXPECT_NE(RegistryTree::find(hklm, "CAF\xc9"), nullptr);
  EXPECT_EQ(RegistryTree::find(hklm, "CAF\xe9"), nullptr);
  // A later line in other letter case names the same key, which keeps its first spelling.
  RegistryKey* pcmcia = RegistryTree::find(hklm, "Enum\\PCMCIA");
  ASSERT_NE(pcmcia, nullptr);
  EXPECT_EQ(pcmcia->name(), "PCMCIA");
  ASSERT_NE(pcmcia->find_value("name"), nullptr);
  EXPECT_EQ(pcmcia->find_value("name")->name, "NAME");

  // A replaced value keeps the name it was created with.
  RegistryTree::set_value(device, "NAME", 3, std::vector<std::uint8_t>{9});
  ASSERT_EQ(device->values().size(), 1u);
  EXPECT_EQ(device->values()[0].name, "Name");
  EXPECT_EQ(device->values()[0].type, 3u);
}

TEST(Regedit4Names, EmptyComponentsNameNoKey) {
  RegistryTree tree = parsed("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA]\n");
  RegistryKey* hklm = tree.root(RegistryRoot::kLocalMachine);
  ASSERT_NE(RegistryTree::find(hklm, "Enum\\PCMCIA"), nullptr);
  for (std::string_view path : {"", "\\", "\\Enum", "Enum\\", "Enum\\\\PCMCIA", "Enum\\PCMCIA\\"}) {
    EXPECT_EQ(RegistryTree::find(hklm, path), nullptr) << path;
  }
}

TEST(Regedit4Names, ManySiblingsAndValuesStayFindable) {
  RegistryTree tree;
  RegistryKey* hklm = tree.root(RegistryRoot::kLocalMachine);
  for (int i = 0; i < 40; ++i) tree.create_key(hklm, "Key" + std::to_string(i));
  RegistryKey* key = RegistryTree::find(hklm, "KEY7");
  ASSERT_NE(key, nullptr);
  for (int i = 0; i < 40; ++i) {
    RegistryTree::set_value(key, "V" + std::to_string(i), 3,
                            std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
  }
  EXPECT_TRUE(RegistryTree::delete_value(key, "v3"));
  EXPECT_FALSE(RegistryTree::delete_value(key, "v3"));
  EXPECT_EQ(key->find_value("v3"), nullptr);
  ASSERT_NE(key->find_value("v39"), nullptr);
  EXPECT_EQ(key->find_value("v39")->data[0], 39);
  RegistryTree::insert_value(key, 3, RegistryValue{"V3", 3, {3}});
  EXPECT_EQ(key->value_index("v3"), 3u);
  EXPECT_EQ(key->value_index("v4"), 4u);
  RegistryKey* last = RegistryTree::find(hklm, "key39");
  ASSERT_NE(last, nullptr);
  tree.remove_leaf_key(last);
  EXPECT_EQ(RegistryTree::find(hklm, "key39"), nullptr);
  EXPECT_NE(RegistryTree::find(hklm, "key38"), nullptr);
}

// A registry file of about 20 MB: parsing and writing it must take time in proportion to its
// size, also for a key with very many sub-keys and values.
}  // namespace
}  // namespace reg7140
