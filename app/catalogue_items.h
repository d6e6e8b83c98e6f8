// What a tree item stands for: a folder or file node of the catalogue, by
// kind and index (never a pointer into the catalogue), or nothing for the
// "Dummy" placeholder of a folder not filled yet.
#pragma once

#include <QTreeWidgetItem>
#include <cstdint>
#include <string_view>

namespace ostrel::app {

enum class NodeKind : int { None = 0, Folder = 1, File = 2 };

struct NodeRef {
  NodeKind kind = NodeKind::None;
  std::uint64_t index = 0;
};

inline constexpr int kNodeKindRole = Qt::UserRole + 1;
inline constexpr int kNodeIndexRole = Qt::UserRole + 2;
inline const QString kDummyText = QStringLiteral("Dummy");

// A catalogue name (UTF-16) as the window shows it.
inline QString NameText(std::u16string_view name) {
  return QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size()));
}

inline NodeRef RefOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return {};
  const QVariant kind = item->data(0, kNodeKindRole);
  if (!kind.isValid()) return {};
  return {static_cast<NodeKind>(kind.toInt()), item->data(0, kNodeIndexRole).toULongLong()};
}

inline void Attach(QTreeWidgetItem* item, NodeRef ref) {
  item->setData(0, kNodeKindRole, static_cast<int>(ref.kind));
  item->setData(0, kNodeIndexRole, QVariant::fromValue<qulonglong>(ref.index));
}

}  // namespace ostrel::app
