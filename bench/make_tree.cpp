// Builds the benchmark's trees beneath a folder, the same bytes on every run:
//   small/  100,000 files of 0-4 KiB in 1,000 folders, a third of them copies;
//   mixed/  15,000 files of 0 B-1 MiB, sizes even on a log scale, a fifth of
//           them copies, in folders nested up to four deep (about 1 GiB);
//   large/  24 files of 64 MiB, half of them copies;
//   million/ 1,000,000 files of 0-4 KiB in 10,000 folders, a third of them
//           copies (not built unless named).
// Content is pseudo-random, so no tool gains from compressible patterns.
//
// A tree is complete when its stamp (<name>.done beside it) describes the
// same plan; such a tree is kept, any other one is removed and built again
// (in <name>.partial, renamed when done), so an interrupted run leaves no half
// tree that looks whole.
//
// Usage: make_tree [--scale N] FOLDER [small|mixed|large|million]...
// --scale N divides the file and folder counts by N (for quick checks).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::uint64_t SplitMix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// xoshiro256**: fast, and the same sequence on every platform (unlike the
// distributions of <random>, whose output the standard leaves open).
class Random {
 public:
  explicit Random(std::uint64_t start) {
    for (std::uint64_t& word : s_)
      word = SplitMix64(start);
  }

  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, bound); the slight bias of the modulo does not matter here.
  std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t s_[4];
};

struct File {
  std::string path;  // relative to the tree
  std::uint64_t size;
  std::uint64_t content;  // files with the same content number hold the same bytes
};

struct Tree {
  std::string name;
  std::uint64_t start;
  std::vector<std::string> folders;  // relative; created before the files
  std::vector<File> files;
  std::string description;  // written to the stamp
};

// `count` files of which `copies` repeat the content (and so the size) of one
// of the others, in shuffled order; `size_of` draws an original's size.
template <typename SizeOf>
std::vector<File> Contents(Random& random, std::size_t count, std::size_t copies, SizeOf size_of) {
  std::vector<File> files;
  const std::size_t originals = count - copies;
  for (std::size_t i = 0; i < originals; ++i)
    files.push_back({"", size_of(random), i});
  for (std::size_t i = 0; i < copies; ++i) {
    const File original = files[random.Below(originals)];
    files.push_back(original);
  }
  for (std::size_t i = files.size(); i > 1; --i)
    std::swap(files[i - 1], files[random.Below(i)]);
  return files;
}

std::string Numbered(const char* format, std::size_t number) {
  char text[32];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

std::size_t Scaled(std::size_t count, std::size_t scale) {
  return std::max<std::size_t>(count / scale, 1);
}

// `count` files of 0-4 KiB, a hundred to a folder, a third of them copies;
// `folder_format` and `file_format` number the folders and files.
Tree SmallFiles(const char* name, std::uint64_t start, std::size_t count, const char* folder_format,
                const char* file_format, std::size_t scale) {
  Tree tree{name, start, {}, {}, {}};
  const std::size_t folders = Scaled(count / 100, scale);
  count = Scaled(count, scale);
  Random random(tree.start);
  tree.files = Contents(random, count, count / 3, [](Random& r) { return r.Below(4097); });
  for (std::size_t f = 0; f < folders; ++f)
    tree.folders.push_back(Numbered(folder_format, f));
  for (std::size_t i = 0; i < count; ++i)
    tree.files[i].path = tree.folders[i * folders / count] + "/" + Numbered(file_format, i);
  return tree;
}

Tree SmallTree(std::size_t scale) {
  return SmallFiles("small", 0x5EED000000000001ull, 100000, "d%03zu", "f%06zu.bin", scale);
}

// The small tree's kind ten times over, for the time and memory of a search
// as the tree grows.
Tree MillionTree(std::size_t scale) {
  return SmallFiles("million", 0x5EED000000000004ull, 1000000, "d%04zu", "f%07zu.bin", scale);
}

Tree MixedTree(std::size_t scale) {
  Tree tree{"mixed", 0x5EED000000000002ull, {}, {}, {}};
  const std::size_t count = Scaled(15000, scale);
  Random random(tree.start);
  // One empty original in a hundred; the others log-uniform from 1 B to 1 MiB.
  tree.files = Contents(random, count, count / 5, [](Random& r) -> std::uint64_t {
    if (r.Below(100) == 0) return 0;
    return static_cast<std::uint64_t>(std::llround(std::exp2(20.0 * r.Unit())));
  });
  // 6 folders on the first level (a0-a5), 4 beneath each on the next three
  // (b0-b3, c0-c3, d0-d3): 510 folders, depth 1 to 4.
  std::vector<std::string> level = {""};
  const std::size_t fan_out[] = {6, 4, 4, 4};
  for (std::size_t depth = 0; depth < 4; ++depth) {
    std::vector<std::string> next;
    for (const std::string& parent : level) {
      for (std::size_t k = 0; k < fan_out[depth]; ++k) {
        next.push_back(parent + static_cast<char>('a' + depth) + std::to_string(k));
        tree.folders.push_back(next.back());
        next.back() += "/";
      }
    }
    level = std::move(next);
  }
  std::vector<std::string> places = tree.folders;
  places.push_back("");  // the tree's own top folder
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& place = places[random.Below(places.size())];
    tree.files[i].path = (place.empty() ? "" : place + "/") + Numbered("m%05zu.dat", i);
  }
  return tree;
}

Tree LargeTree(std::size_t scale) {
  Tree tree{"large", 0x5EED000000000003ull, {}, {}, {}};
  const std::size_t count = std::max<std::size_t>(Scaled(24, scale), 2);
  Random random(tree.start);
  // Each original has exactly one copy.
  for (std::size_t i = 0; i < count; ++i)
    tree.files.push_back({"", std::uint64_t{64} << 20, i / 2});
  for (std::size_t i = count; i > 1; --i)
    std::swap(tree.files[i - 1], tree.files[random.Below(i)]);
  for (std::size_t i = 0; i < count; ++i)
    tree.files[i].path = Numbered("g%02zu.bin", i);
  return tree;
}

void Describe(Tree& tree, std::size_t scale) {
  std::uint64_t bytes = 0;
  for (const File& file : tree.files)
    bytes += file.size;
  std::ostringstream text;
  // The leading number changes whenever the generator's output does.
  text << "make_tree 1 " << tree.name << " start " << tree.start << " scale " << scale << " files "
       << tree.files.size() << " folders " << tree.folders.size() << " bytes " << bytes << "\n";
  tree.description = text.str();
}

void WriteFile(const fs::path& path, const File& file, const Tree& tree,
               std::vector<std::uint64_t>& buffer) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) throw std::runtime_error("cannot create " + path.string());
  std::uint64_t start = tree.start ^ (file.content * 0xD1B54A32D192ED03ull);
  Random random(SplitMix64(start));
  std::uint64_t left = file.size;
  while (left > 0) {
    const std::uint64_t piece = std::min<std::uint64_t>(left, buffer.size() * 8);
    for (std::size_t w = 0; w < (piece + 7) / 8; ++w)
      buffer[w] = random.Next();
    if (std::fwrite(buffer.data(), 1, piece, out) != piece)
      throw std::runtime_error("cannot write " + path.string());
    left -= piece;
  }
  if (std::fclose(out) != 0) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Build(const fs::path& top, const Tree& tree) {
  const fs::path final_path = top / tree.name;
  const fs::path stamp = top / (tree.name + ".done");
  const fs::path partial = top / (tree.name + ".partial");
  if (fs::is_directory(final_path) && fs::exists(stamp) && ReadText(stamp) == tree.description) {
    std::printf("make_tree: %s is complete, kept\n", final_path.c_str());
    return;
  }
  std::printf("make_tree: building %s (%zu files)\n", final_path.c_str(), tree.files.size());
  std::fflush(stdout);
  fs::remove(stamp);
  fs::remove_all(final_path);
  fs::remove_all(partial);
  fs::create_directories(partial);
  for (const std::string& folder : tree.folders)
    fs::create_directories(partial / folder);
  std::vector<std::uint64_t> buffer(1 << 17);  // 1 MiB
  for (const File& file : tree.files)
    WriteFile(partial / file.path, file, tree, buffer);
  fs::rename(partial, final_path);
  std::ofstream(stamp, std::ios::binary) << tree.description;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t scale = 1;
  if (args.size() >= 2 && args[0] == "--scale") {
    scale = std::strtoull(args[1].c_str(), nullptr, 10);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || scale == 0) {
    std::fprintf(stderr, "usage: make_tree [--scale N] FOLDER [small|mixed|large|million]...\n");
    return 2;
  }
  const fs::path top = args[0];
  std::vector<std::string> names(args.begin() + 1, args.end());
  if (names.empty()) names = {"small", "mixed", "large"};
  try {
    fs::create_directories(top);
    for (const std::string& name : names) {
      Tree tree;
      if (name == "small") {
        tree = SmallTree(scale);
      } else if (name == "mixed") {
        tree = MixedTree(scale);
      } else if (name == "large") {
        tree = LargeTree(scale);
      } else if (name == "million") {
        tree = MillionTree(scale);
      } else {
        std::fprintf(stderr, "make_tree: unknown tree '%s'\n", name.c_str());
        return 2;
      }
      Describe(tree, scale);
      Build(top, tree);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_tree: %s\n", error.what());
    return 1;
  }
  return 0;
}
