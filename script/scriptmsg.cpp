#include "script/scriptmsg.h"

namespace scriptmsg {

const char* Text(int id) {
  switch (id) {
    case FILE_READ: return "ファイルの読み込みが失敗しました。";
    case NO_MEMORY: return "メモリ不足のため処理を続行できません。";
    case EDITOR_FAILED: return "エディタの起動に失敗しました。";
    case NEST_LIMIT: return "これ以上重複してスクリプトを実行することは出来ません。";
    case SYNTAX: return "文法エラーです。";
    case LOAD_FAILED: return "スクリプトファイルの読み込みに失敗しました。 ファイル名=";
    case LOG_FAILED: return "ログの作成に失敗しました。";
    case EMPTY: return "そのスクリプトファイルには内容がありません。";
    case NO_ENDIF: return "endifが見つかりません。";
    case NO_LOOP_TO_BREAK: return "breakloopしようとするループが見つかりません。";
    case NO_LOOP_TO_CLOSE:
      return "endloopまたはloopagainに対応するbeginloopまたはloopswitchが見つかりません。";
    case NO_LABEL: return "gotoまたはcallでの行き先が見つかりません。";
    case LABEL_TWICE: return "gotoまたはcallの行き先ラベルが複数存在します。";
    case NO_CALL_FILE: return "callで指定されたスクリプトファイルが見つかりません。";
    case NO_ENDSWITCH:
      return "switchに対応するendswitchが見つからないか、またはloopswitchに対応するendloopが見つかりません。";
    case EXTRA_BEFORE_CASE: return "switchコマンドとcaseコマンドの間に余計なコマンドがあります。";
    case NO_CASE: return "switchコマンドとendswitchコマンドの間にcaseコマンドがありません。";
    case CANNOT_RUN: return "スクリプトの実行はできません。";
    case STRING_ARITHMETIC: return "文字列の引き算はできません。";
    case VALUE_AFTER_STRING: return "value関数の前が文字列になっています。";
    case BRACKETS: return "括弧の対応がおかしいです。";
    case EXPRESSION: return "式がおかしいです。";
    case WATCHDOG_STOP: return "スクリプトの処理が30秒以上ループしたので処理を中止します。";
    case WATCHDOG_ASK: return "スクリプトの処理が30秒以上ループしました。エラーとしますか？";
    case LABEL_BUFFER_FULL: return "ラベル用のバッファがいっぱいになりました。";
    case CODE_BUFFER_FULL: return "スクリプトのバッファがいっぱいにまりました。";
    case LOOP_NEST_LIMIT: return "ループのネストが制限(20)を越えました。";
    case WHILE_MISMATCH: return "whileとendwhileの対応が合いません。";
    case SUBSCRIPT: return "配列の中がおかしいです。";
    case VARIABLE_MEMORY: return "変数用のメモリが限界を越えました。スクリプトは正常に動作しません。";
    case NO_SETPORTNO: return "setportno文はサポートされていません。";
    case CONNECT_ONLINE: return "オンライン中はconnect文は使えません。";
    case LITERAL_TOO_LONG: return "文字列が長すぎます（1024バイトまで）。";
    case NOT_YET: return "は、この版ではまだ使えません。";
    case PARAMETER: return "のパラメタがおかしいです。";
  }
  return "";
}

}  // namespace scriptmsg
