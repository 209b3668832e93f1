#include "platform/posix/regedit4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

using test::data_path;
using test::read_file;

RegistryTree parsed(std::string_view text) {
  RegistryTree tree;
  std::size_t line = 0;
  EXPECT_TRUE(parse_regedit4(text, &tree, &line)) << "line " << line;
  return tree;
}

// The text handed to the reader `piece` bytes at a time.
TextSource in_pieces(const std::string& text, std::size_t piece) {
  return [&text, piece, offset = std::size_t{0}](std::span<char> buffer) mutable {
    const std::size_t n = std::min({piece, buffer.size(), text.size() - offset});
    std::copy_n(text.data() + offset, n, buffer.data());
    offset += n;
    return static_cast<long>(n);
  };
}

// tests/data/rich_sample.reg holds every data kind, all six roots, class strings, a key line
// repeated in other letter case, implied parents that get a line of their own later, names that
// differ only in non-ASCII letters, comments, long hex lists and mixed line ends. Its content
// and its written form are kept beside it.
TEST(Regedit4, RichSampleReadsAndWritesAsKept) {
  const std::string sample = read_file(data_path("data/rich_sample.reg"));
  const std::string dump = read_file(data_path("data/rich_sample_dump.txt"));
  const std::string written = read_file(data_path("data/rich_sample_written.reg"));
  ASSERT_FALSE(sample.empty());
  const RegistryTree tree = parsed(sample);
  EXPECT_EQ(canonical_dump(tree), dump);
  EXPECT_EQ(tree.write(), written);
  // What the writer wrote reads back to the same content and is written again byte for byte.
  EXPECT_EQ(parsed(written).write(), written);
  EXPECT_EQ(canonical_dump(std::string_view(written)), dump);

  std::string lf = sample;
  lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
  EXPECT_EQ(canonical_dump(std::string_view(lf)), dump);

  // Read in pieces, a line may be split anywhere, CR from LF included, and may be longer than
  // the reader's buffer.
  const std::string longer = sample + "[HKEY_LOCAL_MACHINE\\Long]\r\n\"Blob\"=\"" +
                             std::string(200000, 'x') + "\"\r\n\"After\"=dword:00000002";
  for (const std::size_t piece : {1, 2, 7, 65537}) {
    RegistryTree in_parts;
    ASSERT_TRUE(parse_regedit4(in_pieces(longer, piece), &in_parts)) << piece;
    EXPECT_EQ(canonical_dump(in_parts), canonical_dump(std::string_view(longer))) << piece;
  }
}

TEST(Regedit4, FailedReadIsNoEndOfTextAndARefusedPieceStopsTheWriting) {
  // Everything before the failure is a whole registry: taken for the end, it would parse.
  const std::string sample = read_file(data_path("data/rich_sample.reg"));
  TextSource source = in_pieces(sample, sample.size());
  RegistryTree tree;
  EXPECT_FALSE(parse_regedit4([&, given = false](std::span<char> buffer) mutable
                              -> long { return std::exchange(given, true) ? -1 : source(buffer); },
                              &tree));

  // The long value fills more than one piece, so that more would follow it.
  const RegistryTree large = parsed(sample + "[HKEY_LOCAL_MACHINE\\Long]\r\n\"Blob\"=\"" +
                                    std::string(600000, 'x') + "\"\r\n[HKEY_LOCAL_MACHINE\\X]\r\n");
  std::size_t pieces = 0;
  EXPECT_FALSE(large.write([&](std::string_view) { return ++pieces > 1; }));
  EXPECT_EQ(pieces, 1u);
}

// The cases of tests/data/regedit4_values.txt: each value is written in the form given and reads
// back with its type and bytes.
TEST(Regedit4, ValuesAreWrittenSoThatTheyReadBackTheSame) {
  const auto rows = test::load_table("data/regedit4_values.txt");
  ASSERT_GT(rows.size(), 15u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0]);
    ASSERT_EQ(row.size(), 4u);
    const std::uint32_t type = static_cast<std::uint32_t>(std::stoul(row[1], nullptr, 16));
    const std::vector<std::uint8_t> data(row[2].begin(), row[2].end());
    RegistryTree tree;
    RegistryTree::set_value(tree.create_key(tree.root(RegistryRoot::kLocalMachine), "K"), "v", type,
                            data);
    const std::string written = tree.write();
    EXPECT_EQ(written, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n" + row[3] + "\r\n\r\n");
    const RegistryTree back = parsed(written);
    const RegistryKey* key = RegistryTree::find(back.root(RegistryRoot::kLocalMachine), "K");
    const RegistryValue* value = key != nullptr ? key->find_value("V") : nullptr;
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, type);
    EXPECT_TRUE(value->data == std::span<const std::uint8_t>(data));
  }
}

// A new key is written after the last key of its parent's subtree; a creation taken back leaves
// the file as it was.
TEST(Regedit4, NewKeysFollowTheirParentsSubtree) {
  RegistryTree tree = parsed(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n[HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_LOCAL_MACHINE\\C]\n"
      "[HKEY_LOCAL_MACHINE\\Implied\\D]\n[HKEY_LOCAL_MACHINE\\E]\n");
  RegistryKey* hklm = tree.root(RegistryRoot::kLocalMachine);
  RegistryKey* a = RegistryTree::find(hklm, "A");
  RegistryKey* b = RegistryTree::find(hklm, "A\\B");
  RegistryKey* c = RegistryTree::find(hklm, "C");
  RegistryKey* implied = RegistryTree::find(hklm, "Implied");
  ASSERT_TRUE(a && b && c && implied);
  tree.create_key(a, "N");
  tree.create_key(b, "M");
  tree.create_key(implied, "F");
  tree.create_key(hklm, "Last");
  // Many keys in one place force the places kept between keys to be spread out again.
  for (int i = 0; i < 70; ++i) tree.create_key(c, "K" + std::to_string(i));
  tree.create_key(RegistryTree::find(c, "K30"), "Child");
  RegistryTree::set_value(b, "v", 4, std::vector<std::uint8_t>{1, 0, 0, 0});

  std::string expected = "REGEDIT4\r\n\r\n";
  for (const std::string key : {"A", "A\\B", "A\\B\\M", "A\\N", "C"}) {
    expected += "[HKEY_LOCAL_MACHINE\\" + key + "]\r\n" +
                (key == "A\\B" ? "\"v\"=dword:00000001\r\n" : "") + "\r\n";
  }
  for (int i = 0; i < 70; ++i) {
    expected += "[HKEY_LOCAL_MACHINE\\C\\K" + std::to_string(i) + "]\r\n\r\n";
    if (i == 30) expected += "[HKEY_LOCAL_MACHINE\\C\\K30\\Child]\r\n\r\n";
  }
  for (const std::string key : {"Implied\\D", "Implied\\F", "E", "Last"}) {
    expected += "[HKEY_LOCAL_MACHINE\\" + key + "]\r\n\r\n";
  }
  EXPECT_EQ(tree.write(), expected);
  tree.remove_leaf_key(tree.create_key(a, "Extra"));
  EXPECT_EQ(tree.write(), expected);
  EXPECT_EQ(RegistryTree::find(hklm, "A\\Extra"), nullptr);
}

// Lookups past the size at which a key indexes its sub-keys and values, and paths with an empty
// component, which name no key.
TEST(Regedit4, LookupsInLargeKeysAndEmptyComponents) {
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
  tree.remove_leaf_key(RegistryTree::find(hklm, "key39"));
  EXPECT_EQ(RegistryTree::find(hklm, "key39"), nullptr);
  EXPECT_NE(RegistryTree::find(hklm, "key38"), nullptr);

  tree.create_key(RegistryTree::find(hklm, "Key1"), "Sub");
  ASSERT_NE(RegistryTree::find(hklm, "Key1\\Sub"), nullptr);
  for (std::string_view path : {"", "\\", "\\Key1", "Key1\\", "Key1\\\\Sub", "Key1\\Sub\\"}) {
    EXPECT_EQ(RegistryTree::find(hklm, path), nullptr) << path;
  }
}

}  // namespace
}  // namespace reg7140
