#include "ui/folder_cut.h"

#include <algorithm>
#include <string>

#include "ui/shown_text.h"

namespace dupfind {
namespace {

const QString kEllipsis = QStringLiteral("…");

std::size_t CommonPrefix(std::string_view a, std::string_view b) {
  return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first -
                                  a.begin());
}

QString Shown(std::string_view bytes) {
  return ShownText(std::string(bytes));
}

// The end of the UTF-8 character that holds byte `at`.
std::size_t CharacterEnd(std::string_view text, std::size_t at) {
  ++at;
  while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
    ++at;
  return at;
}

}  // namespace

QString CutFolder(std::span<const std::string_view> group, std::size_t row,
                  const QFontMetrics& metrics, int width) {
  const std::string_view folder = group[row];
  const QString whole = Shown(folder);
  if (metrics.horizontalAdvance(whole) <= width) return whole;

  // How far the folder runs with the group's other folders: with all of them
  // (`shared`), and with the one nearest to it (`nearest`).
  std::size_t shared = folder.size(), nearest = 0;
  bool alone = true;
  for (const std::string_view other : group) {
    if (other == folder) continue;
    alone = false;
    const std::size_t common = CommonPrefix(folder, other);
    shared = std::min(shared, common);
    nearest = std::max(nearest, common);
  }
  if (alone) return metrics.elidedText(whole, Qt::ElideLeft, width);

  // From the "/" before the folder name in which the group's folders part...
  const std::size_t slash = shared == 0 ? std::string_view::npos : folder.rfind('/', shared - 1);
  const std::size_t from = slash == std::string_view::npos ? 0 : slash;
  // ...through the character that sets this folder apart (or its last one,
  // when the nearest folder lies below it).
  const std::size_t apart = CharacterEnd(folder, std::min(nearest, folder.size() - 1));
  const QString lead =
      (from > 0 ? kEllipsis : QString()) + Shown(folder.substr(from, apart - from));
  const QString rest = Shown(folder.substr(apart));
  if (metrics.horizontalAdvance(lead + rest) <= width) return lead + rest;
  const int left = width - metrics.horizontalAdvance(lead);
  if (left >= metrics.horizontalAdvance(kEllipsis + rest.left(1)))
    return lead + metrics.elidedText(rest, Qt::ElideMiddle, left);
  // Not even the lead fits: its end, which sets the folder apart, stays.
  return metrics.elidedText(lead, Qt::ElideLeft, width);
}

}  // namespace dupfind
