// The overall tree as a plain node model with a Qt item model over it.
//
//   root (the stock's file name)
//     "昔の分..."        calls older than the shown window, built when expanded
//     call | group        oldest at the top; a group holds the calls of a day
//       tagged lines      (or a week), nested by level, built when expanded
//
// TREE (stock/tree.h) builds and changes the nodes; TREEMODEL tells a view.
#pragma once

#include <QAbstractItemModel>
#include <memory>
#include <string>
#include <vector>

struct TREENODE {
  enum Kind { ROOT, PAST, GROUP, CALL, TAG };
  Kind kind = TAG;
  int line = -1;            // its line slot, -1 for items that are no line
  int level = 0;            // tree level of a tagged line (0 for a call)
  std::string title;        // Shift_JIS
  TREENODE* parent = nullptr;
  std::vector<std::unique_ptr<TREENODE>> children;
  bool built = true;        // children known (calls are built when expanded)
  bool button = false;      // shows a child button before being built
  int count = 0;            // calls of a group
  long long key = 0;        // a group's day number
  // While a call's children are added: the last node of each level (null
  // where a rule makes no node or none came yet).
  std::vector<TREENODE*> lastOfLevel;
  int Row() const;
};

class TREEMODEL : public QAbstractItemModel {
 public:
  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  QModelIndex IndexOf(const TREENODE* node) const;
  static constexpr int LineRole = Qt::UserRole;

  // Changes that keep a view in step.
  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  TREENODE* Insert(TREENODE* parent, int row, std::unique_ptr<TREENODE> node);
  void Remove(TREENODE* node);
  void Changed(TREENODE* node);
  // A call's children, built in one go.
  void Adopt(TREENODE* call, std::vector<std::unique_ptr<TREENODE>> kids);

  // The root's item: a single invisible top holds it.
  TREENODE top;
};
