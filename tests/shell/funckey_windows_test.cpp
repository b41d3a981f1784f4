// The function keys on the offscreen frame (keys, the bar's banks and its
// buttons), the "FUNCTION" dialog, and "VARLIST" with "MODIFYVAR" and
// "NEWVAR".  Screenshots of "FUNCTION" and "VARLIST" are written when
// QUILLNET_SCREENSHOT_DIR names a folder.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdlib>

#include "script/funckey.h"
#include "script/funckey_dialog.h"
#include "script/script.h"
#include "script/var.h"
#include "script/varlist_dialog.h"
#include "settings_fixture.h"
#include "shell/frame_window.h"
#include "support/test_app.h"
#include "terminal/terminal_view.h"

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
std::string S(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

bool Screenshot(QWidget& w, const char* file, const std::string& tmp) {
  w.resize(w.size().expandedTo(w.sizeHint()));
  const QImage image = w.grab().toImage();
  if (image.isNull()) return false;
  bool varied = false;
  for (int y = 0; y < image.height() && !varied; y += 5)
    for (int x = 0; x < image.width() && !varied; x += 5) varied = image.pixel(x, y) != image.pixel(0, 0);
  if (!varied || !image.save(QString::fromStdString(tmp + "/" + file))) return false;
  if (const char* out = std::getenv("QUILLNET_SCREENSHOT_DIR"))
    return image.save(QString::fromStdString(std::string(out) + "/" + file));
  return true;
}

class FuncKeyWindows : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    SCRIPT::Reset();
    VAR::Reset();
    funcini = FUNCINI();
    funcKeyHooks = FUNCKEYHOOKS();
    config.ShowFuncKey = 1;
    config.FuncKeyNum = 12;
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    funcini = FUNCINI();
    funcKeyHooks = FUNCKEYHOOKS();
    SCRIPT::Reset();
    VAR::Reset();
    SettingsTest::TearDown();
  }
  void Key(QWidget* to, QEvent::Type t, int key, Qt::KeyboardModifiers mods) {
    QKeyEvent e(t, key, mods);
    QApplication::sendEvent(to, &e);
  }
  TestApp app;
  std::vector<std::string> sent;
};

TEST_F(FuncKeyWindows, KeysAndButtonsActWithTheirBankAndTheBarShowsTheBankHeld) {
  for (int e = 0; e < FUNCINI::ENTRIES; ++e) funcini.entries[size_t(e)].text = "e" + std::to_string(e);
  ASSERT_TRUE(REGISTRY::OpenKey("Config", true));
  REGISTRY::WriteString("F3Name", S("ログイン").c_str());
  REGISTRY::WriteString("F3Script", "id^M");
  REGISTRY::WriteString("DCName", "last");
  REGISTRY::WriteString("DCScript", "^01B");
  ASSERT_TRUE(REGISTRY::CloseKey());
  FRAMEWINDOW frame;
  InstallFunctionKeys(&frame);  // loads the entries from the settings
  funcKeyHooks.send = [this](const std::string& b) { sent.push_back(b); };
  frame.resize(900, 500);
  frame.show();
  frame.activateWindow();
  frame.Client()->setFocus();
  QCoreApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), frame.Client());

  Key(frame.Client(), QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier);
  Key(frame.Client(), QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier);
  Key(frame.Client(), QEvent::KeyPress, Qt::Key_F12, Qt::ShiftModifier | Qt::ControlModifier);
  Key(frame.Client(), QEvent::KeyRelease, Qt::Key_F12, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(sent, (std::vector<std::string>{"id\r", "\x1b"}));

  auto button = [&](int n) { return frame.FunctionKeyBar()->findChild<QToolButton*>(QString("FunctionKey%1").arg(n)); };
  QToolButton* f3 = button(3);
  QToolButton* f12 = button(12);
  ASSERT_TRUE(f3 && f12);
  EXPECT_EQ(f3->text(), Q("ログイン"));
  EXPECT_EQ(button(1)->text(), Q("F1"));
  // Holding Shift and Ctrl shows that bank.  The events carry the state
  // before the key, as the window system gives it.
  struct {
    QEvent::Type type;
    int key;
    Qt::KeyboardModifiers before;
    int bank;
    const char* f12;
  } banks[] = {
      {QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, 1, "S-F12"},
      {QEvent::KeyPress, Qt::Key_Control, Qt::ShiftModifier, 3, "SC-last"},
      {QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier | Qt::ControlModifier, 2, "C-F12"},
      {QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier, 0, "F12"},
  };
  for (const auto& b : banks) {
    Key(frame.Client(), b.type, b.key, b.before);
    EXPECT_EQ(frame.FunctionKeyBank(), b.bank) << b.f12;
    EXPECT_EQ(f12->text(), Q(b.f12));
  }
  // A click acts on the release over the same button; a press that is
  // released elsewhere does nothing.
  sent.clear();
  QTest::mouseClick(f3, Qt::LeftButton);
  EXPECT_EQ(sent, (std::vector<std::string>{"id\r"}));
  QTest::mousePress(f3, Qt::LeftButton);
  QTest::mouseRelease(f3, Qt::LeftButton, {}, QPoint(-20, -20));
  EXPECT_EQ(sent.size(), 1u);
  // The entries change through the dialog's copy and the bar follows.
  funcini.entries[2].name = "new";
  funcKeyHooks.repaint();
  EXPECT_EQ(f3->text(), Q("new"));
  // The script menu has the two windows.
  auto* menu = frame.findChild<QMenu*>("ScriptMenu");
  ASSERT_TRUE(menu);
  QStringList texts;
  for (QAction* a : menu->actions()) texts << a->text();
  EXPECT_TRUE(texts.contains(Q("キー割り当て(&K)...")));
  EXPECT_TRUE(texts.contains(Q("変数一覧(&V)...")));
}

TEST_F(FuncKeyWindows, TheFunctionDialogEditsEveryBankOnACopy) {
  ui::ScopedRecordingFacade boxes;
  funcini.entries[0] = {false, S("挨拶"), S("こんにちは")};
  FUNCKEYDIALOG d;
  EXPECT_EQ(d.windowTitle(), Q("キー割り当て"));
  EXPECT_EQ(d.NameEdit(0)->text(), Q("挨拶"));
  d.NameEdit(1)->setText("two");
  d.TextEdit(1)->setText("login.hsc:START");
  d.KindBox(1)->setCurrentIndex(1);
  // Switching to Shift+Ctrl keeps the plain rows and shows the other bank.
  d.ShiftBox()->setChecked(true);
  d.CtrlBox()->setChecked(true);
  EXPECT_EQ(d.Bank(), 3);
  EXPECT_EQ(d.NameEdit(1)->text(), "");
  d.NameEdit(11)->setText("dc");
  d.TextEdit(11)->setText("^01B");
  ASSERT_TRUE(Screenshot(d, "function.png", dir.Path()));
  // Too long for its 20 bytes (ten double-byte characters and one more).
  d.NameEdit(10)->setText(Q("あいうえおかきくけこさ"));
  EXPECT_FALSE(d.Collect());
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, "Shift+Ctrl+F11 の名前は半角20文字までです。");
  d.NameEdit(10)->setText(Q("あいうえおかきくけこ"));
  d.TextEdit(10)->setText(QString(50, 'x'));
  EXPECT_FALSE(d.Collect());
  d.TextEdit(10)->setText(QString(49, 'x'));
  ASSERT_TRUE(d.Collect());
  // Nothing reaches the table before OK.
  EXPECT_TRUE(funcini.entries[47].name.empty());
  d.Apply(true);
  EXPECT_TRUE(d.Saved());
  EXPECT_EQ(funcini.entries[1], (FUNCKEYENTRY{true, "two", "login.hsc:START"}));
  EXPECT_EQ(funcini.entries[47], (FUNCKEYENTRY{false, "dc", "^01B"}));
  EXPECT_EQ(funcini.entries[46].text, std::string(49, 'x'));
  // What was saved is what the settings give back.
  FUNCINI reread;
  reread.LoadAll();
  EXPECT_EQ(reread.entries, funcini.entries);
  // Reset empties every bank of the copy; Cancel would leave the table.
  FUNCKEYDIALOG again;
  again.ResetAll();
  ASSERT_TRUE(again.Collect());
  for (const FUNCKEYENTRY& e : again.Copy().entries) EXPECT_EQ(e, FUNCKEYENTRY{});
  EXPECT_EQ(funcini.entries[1].name, "two");
}

TEST_F(FuncKeyWindows, TheVariableListShowsFollowsAndEditsTheVariables) {
  ASSERT_TRUE(VAR::SetVar("%USER", S("ゲスト")));
  ASSERT_TRUE(VAR::SetVar("%%PASS", "secret"));
  ASSERT_TRUE(VAR::SetVar("@LINE", "a\rb^"));
  ASSERT_TRUE(VAR::SetNumVar("@#COUNT", 12));
  ASSERT_TRUE(VAR::SetNumVar("@#BIG", 3));
  VARLISTDIALOG d;
  EXPECT_EQ(d.windowTitle(), Q("変数一覧"));
  auto rows = [&] {
    std::vector<std::pair<QString, QString>> r;
    for (int i = 0; i < d.List()->topLevelItemCount(); ++i)
      r.emplace_back(d.List()->topLevelItem(i)->text(0), d.List()->topLevelItem(i)->text(1));
    return r;
  };
  using ROWS = std::vector<std::pair<QString, QString>>;
  EXPECT_EQ(rows(), (ROWS{{"%%PASS", "???"}, {"%USER", Q("ゲスト")}, {"@#BIG", "3"}, {"@#COUNT", "12"},
                          {"@LINE", "a^Mb^^"}}));
  // By value: numbers by value first, then the strings.
  d.List()->sortByColumn(1, Qt::AscendingOrder);
  EXPECT_EQ(rows()[0].first, "@#BIG");
  EXPECT_EQ(rows()[1].first, "@#COUNT");
  ASSERT_TRUE(Screenshot(d, "varlist.png", dir.Path()));
  // A change while the list is open shows at once.
  ASSERT_TRUE(VAR::SetVar("@NEW", "x"));
  EXPECT_EQ(rows().size(), 6u);

  // MODIFYVAR: a secret's value never shows; the edit is "^"-escaped.
  {
    MODIFYVARDIALOG m("%%PASS");
    EXPECT_EQ(m.ValueEdit()->echoMode(), QLineEdit::Password);
    m.ValueEdit()->setText("new^Mpass");
    ASSERT_TRUE(m.Apply());
    EXPECT_EQ(VAR::GetVar("%%PASS"), "new\rpass");
    MODIFYVARDIALOG n("@LINE");
    EXPECT_EQ(n.ValueEdit()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(n.ValueEdit()->text(), "a^Mb^^");
  }
  // NEWVAR: the kind gives the leading character.
  struct {
    const char* name;
    bool permanent;
    const char* value;
    const char* stored;
  } made[] = {
      {"host", true, "a^Ab", "%HOST"},
      {"#host2", true, "x", "%HOST2"},  // "#" becomes "%"
      {"tmp", false, "t", "0TMP"},      // level 0: no script runs
      {"%tmp2", false, "t", "0TMP2"},
      {"%#n", true, "42abc", "%#N"},   // a number from the value's digits
  };
  for (const auto& c : made) {
    NEWVARDIALOG n;
    EXPECT_TRUE(n.Permanent()->isChecked());
    n.NameEdit()->setText(c.name);
    n.ValueEdit()->setText(c.value);
    (c.permanent ? n.Permanent() : n.Temporary())->setChecked(true);
    EXPECT_EQ(n.StoredName(), c.stored) << c.name;
    ASSERT_TRUE(n.Apply()) << c.name;
  }
  EXPECT_EQ(VAR::GetVar("%HOST"), "a\x01" "b");
  EXPECT_EQ(VAR::GetVar("0TMP"), "t");
  EXPECT_EQ(VAR::GetNumVar("%#N"), 42);
  // 削除 empties the selected one.
  for (int i = 0; i < d.List()->topLevelItemCount(); ++i)
    if (d.List()->topLevelItem(i)->text(0) == "@#COUNT") d.List()->setCurrentItem(d.List()->topLevelItem(i));
  ASSERT_EQ(d.Selected(), "@#COUNT");
  d.DeleteSelected();
  EXPECT_EQ(VAR::GetNumVar("@#COUNT"), 0);
  for (const auto& r : rows()) EXPECT_NE(r.first, "@#COUNT");
}

TEST_F(FuncKeyWindows, TheHelpMenuOpensTheScriptGuide) {
  FRAMEWINDOW frame;
  QStringList opened;
  frame.openDocument = [&](const QString& path) {
    opened << path;
    return true;
  };
  QAction* guide = nullptr;
  for (QMenu* m : frame.findChildren<QMenu*>())
    for (QAction* a : m->actions())
      if (a->text() == Q("スクリプトの文法(&S)")) guide = a;
  ASSERT_TRUE(guide);
  guide->trigger();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_TRUE(opened[0].endsWith("/docs/SCRIPTS.md")) << opened[0].toStdString();
  EXPECT_TRUE(QFileInfo(opened[0]).isFile());
}

}  // namespace
