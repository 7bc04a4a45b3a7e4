#!/usr/bin/env python3
"""Writes the text files of site/ in Shift_JIS from the UTF-8 sources held
here: the message catalogue, the sample system settings, the mobile-phone
table, the signatures, the style sheet and the templates of the skins and
of the administration pages.

    scripts/make-site-text.py [--check]

Before writing, every file is checked: it must encode in Shift_JIS (CP932),
an HTML file must declare the charset, hold no run of two blanks (the
template reader deletes them) and have every block marker paired, and a
catalogue text must hold no stray percent sign. --check writes nothing and
fails when a file on disk differs from what would be written.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE = os.path.join(ROOT, "site")
SAFE = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789*-._")

# ---------------------------------------------------------------------------
# Message catalogue: key, text. Every text is used as a printf format, so a
# percent sign would have to be doubled; none is used except %ID% in msg54,
# which is filled by text replacement.

CATALOGUE = [
    ("msg01", "パスワードが入力されていません。パスワードを入力してください。"),
    ("msg02", "新しいパスワードが入力されていません。新しいパスワードを入力してください。"),
    ("msg03", "パスワードが違います。お確かめのうえ、もう一度入力してください。"),
    ("msg04", "同じIDの掲示板がすでにあります。別の掲示板IDを指定してください。"),
    ("msg05", "掲示板IDが入力されていません。掲示板IDを入力してください。"),
    ("msg06", "掲示板の設定ファイルを書き込めませんでした。data ディレクトリの書き込み権限をお確かめください。"),
    ("msg07", "データディレクトリが指定されていません。データディレクトリを入力してください。"),
    ("msg08", "指定されたデータディレクトリがありません。先にディレクトリを作成してください。"),
    ("msg09", "データディレクトリにロックファイルを作成できません。ディレクトリの書き込み権限をお確かめください。"),
    ("msg10", "このデータディレクトリは指定できません。サイトのディレクトリそのもの、その上位のディレクトリ、掲示板の登録ディレクトリ（data）、スキンのディレクトリは使えません。"),
    ("msg11", "指定された掲示板はありません。掲示板IDをお確かめください。"),
    ("msg14", "この掲示板の設定が完了していません（データディレクトリまたはタイトルが未設定です）。管理者にお問い合わせください。"),
    ("msg15", "掲示板のタイトルが入力されていません。タイトルを入力してください。"),
    ("msg16", "スキンディレクトリが指定されていません。スキンディレクトリを入力してください。"),
    ("msg17", "スキンディレクトリが見つかりません。スキンの設定をお確かめください。"),
    ("msg18", "スキンのテンプレート（templ_bbs.html、templ_ico.html、templ_info.html）が揃っていません。スキンの設定をお確かめください。"),
    ("msg19", "データディレクトリとスキンディレクトリに同じ場所は指定できません。"),
    ("msg20", "お名前が入力されていません。お名前を入力してください。"),
    ("msg21", "題名が入力されていません。題名を入力してください。"),
    ("msg22", "メッセージが入力されていません。メッセージを入力してください。"),
    ("msg23", "この名前のファイルは添付できません。ファイル名に使えるのは半角の英数字と「.」「_」「-」だけで、「.」で始まる名前は使えません。スクリプトやウェブページ（.cgi .php .html .js .svg など）も添付できません。"),
    ("msg24", "送信されたデータが大きすぎます。添付ファイルを減らすか、小さくしてから送信してください。"),
    ("msg25", "同じ内容の書き込みがすでにあります。二重に送信されていないかお確かめください。"),
    ("msg26", "このアイコンは管理者専用です。別のアイコンを選んでください。"),
    ("msg27", "同じ名前の添付ファイルがこのスレッドにすでにあります（または同じ名前のファイルを二つ送信しました）。ファイル名を変えてから送信してください。"),
    ("msg30", "返信が付いている記事は削除できません。削除が必要な場合は管理者にご連絡ください。"),
    ("msg40", "掲示板が指定されていません。掲示板のアドレスをお確かめください。"),
    ("msg41", "この掲示板への書き込みには書き込み用パスワードが必要です。パスワード欄に書き込み用パスワードを入力してください。"),
    ("msg50", "新しい過去ログの名前が入力されていません。名前を入力してください。"),
    ("msg51", "過去ログが選択されていないか、指定された過去ログがありません。"),
    ("msg52", "その名前の過去ログはすでにあります。別の名前を指定してください。"),
    ("msg53", "過去ログの操作が正しく選択されていません。操作を選んでからもう一度送信してください。"),
    ("msg54", "過去ログ「%ID%」を表示しています"),
    ("msg90", "ただいま混み合っているか、データを読み書きできませんでした。しばらく待ってから、もう一度お試しください。"),
    ("msg98", "送信された項目の形式が正しくありません。掲示板IDや過去ログの名前に使えるのは半角の英数字と「_」「-」だけです。"),
    ("msg99", "返信先の記事が見つかりませんでした。すでに削除された可能性があります。"),
]

# ---------------------------------------------------------------------------
# Settings files written percent-encoded: (name, value) pairs.

SYSTEM_SAMPLE = [
    ("sendmail", "/usr/sbin/sendmail"),
    ("passwd", ""),
    ("icon_max", "10"),
    ("attach_max", "3"),
    ("log_limit", "3000"),
    ("page_ppnum", "10"),
    ("page_ppnum2", "30"),
    ("attach_num", "3"),
    ("attach_size", "500"),
    ("embed_size", "100"),
    ("log_max", "1000"),
    ("new_time", "24"),
    ("timelag_hh", "0"),
    ("timelag_mm", "0"),
    ("bbs_title", "RUK-BBS 掲示板"),
    ("user_header", ""),
    ("user_footer", ""),
    ("new_order", ""),
    ("use_attach", "1"),
    ("attach_embed", "1"),
    ("use_icon", "1"),
    ("log_del", "1"),
    ("opt_trace", "0"),
    ("fmode666", "666"),
    ("fmode777", "777"),
]

MOBILE_WORDS = ["DoCoMo", "KDDI", "UP.Browser", "J-PHONE", "Vodafone", "SoftBank",
                "WILLCOM", "DDIPOCKET"]
MOBILE_TABLE = [(word, "skin/mobile") for word in MOBILE_WORDS] + [("page_ppnum", "5")]

# ---------------------------------------------------------------------------
# Plain texts.

SYS_SIGNATURE = "RUK-BBS 掲示板システム\n"
DEFAULT_SIGNATURE = "標準スキン\n"
MOBILE_SIGNATURE = "携帯電話用スキン\n"

STYLE_SHEET = """\
@charset "Shift_JIS";
/* Board pages: one readable column that narrows to a phone's width. */
*,*::before,*::after{box-sizing:border-box}
html{-webkit-text-size-adjust:100%;text-size-adjust:100%}
body{
\tmargin:0;
\tbackground:#eef1f4;
\tcolor:#222;
\tfont-family:"Hiragino Kaku Gothic ProN","Hiragino Sans","Yu Gothic UI","Yu Gothic","Meiryo","Noto Sans CJK JP","Noto Sans JP",sans-serif;
\tfont-size:16px;
\tline-height:1.7;
}
a{color:#1f5fa8}
a:visited{color:#6a4a9c}
a:hover{color:#c0392b}
img{border:0}
.page{max-width:960px;margin:0 auto;padding:0 12px 24px}

/* Header and footer */
.bbsHeader{padding:16px 0 4px}
.bbsTitle{margin:0;font-size:1.6em;line-height:1.3}
.bbsTitle a{color:#1b2a3a;text-decoration:none}
.userHeader h3{margin:8px 0;padding:6px 10px;background:#fff4d6;border-left:4px solid #e0a800;font-size:1em}
.bbsFooter{margin-top:24px;padding-top:8px;border-top:1px solid #cfd6de;color:#666;font-size:.85em;text-align:center}
.signature{margin:4px 0}

/* Navigation */
.navi{margin:10px 0;padding:8px 10px;background:#fff;border:1px solid #d5dbe2;border-radius:8px}
.menu{display:flex;flex-wrap:wrap;gap:4px 14px;margin:0 0 6px;padding:0;list-style:none}
.menu a{white-space:nowrap}
/* the home link of a board without a home page address */
.menu a[href=""],.menu li:has(a[href=""]){display:none}
.pager,.search{display:flex;flex-wrap:wrap;align-items:center;gap:6px;margin:4px 0}
.pager select,.search input[type=search]{font-size:1em;padding:3px 6px;border:1px solid #b8c1cc;border-radius:4px;background:#fff}
.search input[type=search]{flex:1 1 12em;min-width:0;max-width:24em}
input[type=image]{vertical-align:middle}

/* Messages */
.thread{margin:14px 0;background:#fff;border:1px solid #d5dbe2;border-radius:8px;overflow:hidden}
.message{padding:10px 14px}
.replies{margin:0 0 8px 14px;border-left:3px solid #dbe3ec}
.replies:empty{display:none}
.replies .message{padding:8px 12px;border-top:1px dashed #dbe3ec}
.anchor{display:block;height:0}
.msgTitle{margin:0;font-size:1.1em;line-height:1.4;overflow-wrap:anywhere}
.msgTitle a{color:#1b2a3a;text-decoration:none}
.msgTitle img{vertical-align:middle;max-height:48px;margin-right:4px}
.child .msgTitle{font-size:1em}
.msgInfo{margin:2px 0 6px;color:#555;font-size:.85em}
.msgName{font-weight:bold;color:#2c5f2d}
.msgDate{color:#777;white-space:nowrap}
.msgBody{overflow-wrap:anywhere;word-break:normal}
.msgBody pre{margin:0;white-space:pre-wrap;font-family:"Osaka-Mono","MS Gothic","Noto Sans Mono CJK JP",monospace;font-size:.95em}
.msgAttach{margin:8px 0 0;font-size:.9em}
.msgAttach img{max-width:100%;height:auto;vertical-align:middle}
.msgForm{display:flex;flex-wrap:wrap;align-items:center;gap:6px;margin:8px 0 0;font-size:.85em;color:#555}
.msgForm input[type=password]{width:8em;padding:2px 4px;border:1px solid #b8c1cc;border-radius:4px}
.crMessage,.prMessage{color:#2f7a4f}
.prMessage{color:#8a5a14}
.pMail,.cMail,.pHome,.cHome{display:inline-block;padding:0 6px;border:1px solid #b8c8da;border-radius:10px;font-size:.8em;line-height:1.5;text-decoration:none}
.pAttach,.cAttach{overflow-wrap:anywhere}

/* Title view: one line per message, the tree drawn with 12x16 images */
.tree{margin:10px 0;padding:6px 10px;background:#fff;border:1px solid #d5dbe2;border-radius:8px}
.tline{font-size:14px;line-height:16px;min-height:16px;margin:0;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.troot{padding-top:4px;font-weight:bold}
.tline img{vertical-align:top}
.tline .msgName{font-weight:normal}

/* Input form */
.inputForm{margin:14px 0;padding:12px 14px;background:#fff;border:1px solid #d5dbe2;border-radius:8px}
.formHead{margin:0 0 8px;font-size:1.2em}
.variants{display:none}
.fields{display:grid;grid-template-columns:9em 1fr;gap:8px 12px;margin:0 0 10px}
.fields dt{font-weight:bold;padding-top:4px}
.fields dd{margin:0;min-width:0}
.fields input[type=text],.fields input[type=password],.fields textarea,.fields select{max-width:100%;font-size:1em;padding:4px 6px;border:1px solid #b8c1cc;border-radius:4px;background:#fff;font-family:inherit}
.fields input[type=text],.fields textarea{width:100%}
.fields input[type=password]{width:12em}
.fields textarea{min-height:10em;resize:vertical}
.fields input[type=file]{max-width:100%}
.hint{font-size:.8em;color:#666}
.options label{display:inline-block;margin-right:14px}

/* Search results */
.found{margin:14px 0;padding:10px 14px;background:#fff;border:1px solid #d5dbe2;border-radius:8px}
.found h2{margin:0 0 4px;font-size:1.2em}
.foundHead{margin:14px 0 6px;font-size:1.05em}
.foundRow{margin:0 0 8px;padding:8px 12px;background:#fff;border:1px solid #e1e6ec;border-radius:6px}
.foundTitle{margin:0;overflow-wrap:anywhere}
.foundExcerpt{margin:2px 0;color:#444;font-size:.9em;overflow-wrap:anywhere}

/* Icon list and message page */
.iconTable{border-collapse:collapse;margin:10px 0;background:#fff}
.iconTable td{padding:8px;border:1px solid #d5dbe2;text-align:center;vertical-align:bottom;font-size:.9em}
.infoBox{margin:40px auto;max-width:36em;padding:18px 20px;background:#fff;border:1px solid #d5dbe2;border-radius:8px}
.infoTitle{margin:0 0 10px;font-size:1.2em}
.infoMessage{margin:0 0 14px}
.infoReturn{margin:0;display:flex;flex-wrap:wrap;gap:8px 16px;align-items:center}

@media (max-width:600px){
\tbody{font-size:15px}
\t.page{padding:0 8px 16px}
\t.bbsTitle{font-size:1.3em}
\t.message{padding:8px 10px}
\t.replies{margin-left:6px}
\t.fields{grid-template-columns:1fr;gap:2px}
\t.fields dd{margin-bottom:6px}
\t.iconTable td{padding:4px}
}
"""

# ---------------------------------------------------------------------------
# Default skin.

HEAD = """\
<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="Shift_JIS">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<link href="ruk-bbs.css" rel="stylesheet">
</head>
"""

# One message of the full view; the thread root and the replies differ only
# in their class names.
MESSAGE = """\
<div class="message {kind}">
<span class="anchor" id="b%ID%"></span><span class="anchor" id="m%ID%"></span>
<h3 class="msgTitle">%ICON_IMAGE%<a href="#b%ID%">%TITLE%</a> %NEW_IMAGE%</h3>
<p class="msgInfo"><span class="msgName">%NAME%</span> %MAIL% %HOME% <span class="msgDate">%DATE%</span></p>
<div class="msgBody">%MESSAGE%</div>
<!--ATTACH--><div class="msgAttach">%ATTACH_LINK%%BUTTON=attach.gif% %ATTACH_VIEW%</div><!--/ATTACH-->
<form class="msgForm" action="ruk-bbs.cgi" method="post">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="style" value="%STYLE%">
<input type="hidden" name="page" value="%PAGE%">
<input type="hidden" name="id" value="%ID%">
<input type="hidden" name="ppid" value="%PPID%">
<input src="btn_reply.gif" type="image" name="submit_res" alt="返信する" title="この記事に返信する">
<label>パスワード <input type="password" name="passwd" autocomplete="current-password"></label>
<input src="btn_edit.gif" type="image" name="submit_upd" alt="編集する" title="この記事を編集する（パスワードが必要です）">
<input src="btn_delete.gif" type="image" name="submit_del" alt="削除する" title="この記事を削除する（パスワードが必要です）" onclick="return confirm('この記事を削除します。よろしいですか？');">
</form>
</div>
"""

TITLE_LINE = """\
<p class="tline{extra}">{branch}<a href="ruk-bbs.cgi?bid=%BID%&amp;style=1&amp;ppid=%PPID%&amp;page=%PAGE%#m%ID%">%TITLE%</a> %NEW_IMAGE% <span class="msgName">%NAME%</span> <span class="msgDate">%DATE%</span> %ATTACH_LINK%%BUTTON=attach.gif%</p>
"""

DEFAULT_BBS = HEAD.format(title="%BBS_TITLE%") + """\
<body>
<div class="page">
<header class="bbsHeader">
<h1 class="bbsTitle"><a href="ruk-bbs.cgi?bid=%BID%">%BBS_TITLE%</a></h1>
<div class="userHeader">%USER_HEADER%</div>
</header>
<!--NAVIGATION-->
<nav class="navi">
<ul class="menu">
<li><a href="%HOME%">ホーム</a></li>
<li><a href="ruk-bbs.cgi?bid=%BID%&amp;style=%STYLE%&amp;mode=new">新しく書き込む</a></li>
<li><a href="ruk-bbs.cgi?bid=%BID%&amp;style=0">本文を表示</a></li>
<li><a href="ruk-bbs.cgi?bid=%BID%&amp;style=1">タイトルだけ表示</a></li>
<li><a href="ruk-bbs.cgi?bid=%BID%&amp;mode=icon">アイコン一覧</a></li>
</ul>
<form class="pager" action="ruk-bbs.cgi" method="get">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="style" value="%STYLE%">
<input type="hidden" name="page" value="%PAGE%">
<input src="btn_next.gif" type="image" name="submit_next" alt="新しいページへ" title="新しいページへ">
%SELECT_PAGE%
<input src="btn_jump.gif" type="image" name="submit_jump" alt="選んだページへ移動" title="選んだページへ移動">
<input src="btn_prev.gif" type="image" name="submit_prev" alt="古いページへ" title="古いページへ">
</form>
<form class="search" action="ruk-bbs.cgi" method="get" role="search">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="style" value="%STYLE%">
<input type="search" name="word" placeholder="キーワード（空白で区切って複数）" aria-label="検索するキーワード">
<input src="btn_find.gif" type="image" name="submit_find" alt="検索する" title="検索する">
</form>
</nav>
<!--/NAVIGATION-->
<main class="bbsMain">
<!--INPUT_FORM-->
<section class="inputForm">
<h2 class="formHead"><!--INPUT_HEADLINE-->書き込み<!--/INPUT_HEADLINE--></h2>
<div class="variants" hidden><!--INPUT_HEAD_NEW-->新しいスレッドを書き込む<!--/INPUT_HEAD_NEW--><!--INPUT_HEAD_RES-->返信を書き込む<!--/INPUT_HEAD_RES--><!--INPUT_HEAD_UPD-->記事を編集する<!--/INPUT_HEAD_UPD--></div>
<form action="ruk-bbs.cgi" method="post" enctype="multipart/form-data">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="style" value="%STYLE%">
<input type="hidden" name="page" value="%PAGE%">
<input type="hidden" name="id" value="%ID%">
<input type="hidden" name="pid" value="%PID%">
<input type="hidden" name="ppid" value="%PPID%">
<dl class="fields">
<dt><label for="in_name">お名前</label></dt>
<dd><input type="text" id="in_name" name="name" value="%NAME%" maxlength="64" required autocomplete="nickname"></dd>
<dt><label for="in_mail">メール</label></dt>
<dd><input type="text" id="in_mail" name="mail" value="%MAIL%" maxlength="128" inputmode="email" autocomplete="email"></dd>
<dt><label for="in_home">ホームページ</label></dt>
<dd><input type="text" id="in_home" name="home" value="%HOME%" maxlength="256" inputmode="url" autocomplete="url"></dd>
<dt><label for="in_title">題名</label></dt>
<dd><input type="text" id="in_title" name="title" value="%TITLE%" maxlength="128" required></dd>
<dt><label for="in_mess">メッセージ</label></dt>
<dd><textarea id="in_mess" name="mess" rows="10" cols="60" required>%MESSAGE%</textarea>
<span class="hint">アドレス（http:// など）は自動でリンクになります。</span></dd>
<!--SELECT_ICON-->
<dt>アイコン</dt>
<dd>%SELECT_ICON% <a href="ruk-bbs.cgi?bid=%BID%&amp;mode=icon" target="_blank" rel="noopener">アイコン一覧を見る</a></dd>
<!--/SELECT_ICON-->
<!--INPUT_FILE-->
<dt>添付ファイル</dt>
<dd>%INPUT_FILE%%WIDTH=40%
<span class="hint">ファイル名は半角英数字と「.」「_」「-」で付けてください。</span></dd>
<!--/INPUT_FILE-->
<dt><label for="in_passwd">パスワード</label></dt>
<dd><input type="password" id="in_passwd" name="passwd" value="%PASSWD%" maxlength="64" required autocomplete="current-password">
<span class="hint">記事を編集・削除するときに使います。</span></dd>
<dt>オプション</dt>
<dd class="options">
<label><input type="checkbox" name="resmail" value="1" %RESMAIL_CHECKED%> 返信をメールで受け取る</label>
<label><input type="checkbox" name="preform" value="1" %PREFORM_CHECKED%> 整形済み（改行と空白をそのまま表示）</label>
<label><input type="checkbox" name="cookie" value="1" checked> 名前などを記憶する</label>
</dd>
</dl>
<input src="btn_write.gif" type="image" name="submit_wri" alt="書き込む" title="書き込む">
</form>
</section>
<!--/INPUT_FORM-->
<!--DATA_TABLE-->
<!--FOUND_WORD-->
<section class="found">
<h2>検索結果</h2>
<p>「<strong>%WORD%</strong>」に一致する記事：%NUM% 件（%CPUTIME% 秒）</p>
<p><a href="ruk-bbs.cgi?bid=%BID%&amp;style=%STYLE%">掲示板に戻る</a></p>
</section>
<!--/FOUND_WORD-->
<!--TABLE_PARENT-->
<article class="thread">
""" + MESSAGE.format(kind="parent") + """\
<div class="replies"><!--TABLE_CHILD-->
""" + MESSAGE.format(kind="child") + """\
<!--/TABLE_CHILD--></div>
</article>
<!--/TABLE_PARENT-->
<!--/DATA_TABLE-->
<!--DATA_TITLE-->
<!--TITLE_PARENT-->
<div class="tree">
""" + TITLE_LINE.format(extra=" troot", branch="") + """\
<!--TITLE_CHILD-->
""" + TITLE_LINE.format(extra="", branch="%BRANCH%") + """\
<!--/TITLE_CHILD-->
</div>
<!--/TITLE_PARENT-->
<!--FOUND_RESULT-->
<!--FOUND_RESULT_HEADLINE-->
<h3 class="foundHead">見つかった記事</h3>
<!--/FOUND_RESULT_HEADLINE-->
<div class="foundRow">
<p class="foundTitle"><a href="ruk-bbs.cgi?bid=%BID%&amp;word=%WORD%&amp;style=%STYLE%&amp;ppid=%PPID%#m%ID%">%TITLE%</a> %NEW_IMAGE% <span class="msgName">%NAME%</span> <span class="msgDate">%DATE%</span></p>
<p class="foundExcerpt">%MESSAGE%</p>
</div>
<!--/FOUND_RESULT-->
<!--/DATA_TITLE-->
</main>
<!--NAVIGATION--><!--/NAVIGATION-->
<footer class="bbsFooter">
<div class="userFooter">%USER_FOOTER%</div>
<p class="signature">%SKINSIGNATURE% / %SIGNATURE%</p>
</footer>
</div>
</body>
</html>
"""

DEFAULT_ICO = HEAD.format(title="アイコン一覧 - %BBS_TITLE%") + """\
<body>
<div class="page">
<header class="bbsHeader">
<h1 class="bbsTitle"><a href="ruk-bbs.cgi?bid=%BID%">%BBS_TITLE%</a></h1>
</header>
<h2>アイコン一覧</h2>
<p>書き込むときに選べるアイコンです。</p>
<table class="iconTable">
<!--TR_ICON--><tr><!--TD_ICON--><td>%IMAGE%<br>%NAME%</td><!--/TD_ICON--></tr><!--/TR_ICON-->
</table>
<p><a href="ruk-bbs.cgi?bid=%BID%">掲示板に戻る</a></p>
<footer class="bbsFooter">
<p class="signature">%SKINSIGNATURE% / %SIGNATURE%</p>
</footer>
</div>
</body>
</html>
"""

DEFAULT_INFO = HEAD.format(title="お知らせ - %BBS_TITLE%") + """\
<body>
<div class="page">
<div class="infoBox" role="alert">
<h1 class="infoTitle">%BBS_TITLE%</h1>
<p class="infoMessage">%MESSAGE%</p>
<p class="infoReturn"><a href="%RETURN_CGI%">戻る</a>
<button type="button" onclick="history.back();">入力画面に戻る</button></p>
</div>
<footer class="bbsFooter">
<p class="signature">%SKINSIGNATURE% / %SIGNATURE%</p>
</footer>
</div>
</body>
</html>
"""

# ---------------------------------------------------------------------------
# Mobile skin: plain markup without style sheet; buttons are submit buttons
# named like the image buttons' fields, which is what the program tests.

MOBILE_HEAD = """\
<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="Shift_JIS">
<meta name="viewport" content="width=device-width">
<title>{title}</title>
</head>
"""

MOBILE_MESSAGE = """\
<a id="b%ID%" name="b%ID%"></a><a id="m%ID%" name="m%ID%"></a>
{mark}%NEW_IMAGE%<b>%TITLE%</b><br>
%NAME% %MAIL% %HOME%<br>
<small>%DATE%</small><br>
%MESSAGE%<br>
<!--ATTACH-->%ATTACH_LINK%%BUTTON=attach.gif%<br><!--/ATTACH-->
<form action="ruk-bbs.cgi" method="post">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="page" value="%PAGE%">
<input type="hidden" name="id" value="%ID%">
<input type="hidden" name="ppid" value="%PPID%">
<input type="submit" name="submit_res.x" value="返信">
パス<input type="password" name="passwd" size="6">
<input type="submit" name="submit_upd.x" value="編集">
<input type="submit" name="submit_del.x" value="削除">
</form>
"""

MOBILE_BBS = MOBILE_HEAD.format(title="%BBS_TITLE%") + """\
<body>
<a id="top" name="top"></a>
<div><b>%BBS_TITLE%</b></div>
%USER_HEADER%
<!--NAVIGATION-->
<div>
<a href="ruk-bbs.cgi?bid=%BID%&amp;mode=new" accesskey="1">[1]書く</a>
<a href="ruk-bbs.cgi?bid=%BID%&amp;page=%PAGE%&amp;submit_next.x=1" accesskey="4">[4]新しい方</a>
<a href="ruk-bbs.cgi?bid=%BID%&amp;page=%PAGE%&amp;submit_prev.x=1" accesskey="6">[6]古い方</a>
<a href="%HOME%" accesskey="0">[0]ホーム</a>
</div>
<form action="ruk-bbs.cgi" method="get">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="page" value="%PAGE%">
%SELECT_PAGE%
<input type="submit" name="submit_jump.x" value="移動">
</form>
<form action="ruk-bbs.cgi" method="get">
<input type="hidden" name="bid" value="%BID%">
<input type="text" name="word" size="10">
<input type="submit" name="submit_find.x" value="検索">
</form>
<hr>
<!--/NAVIGATION-->
<!--INPUT_FORM-->
<div><b><!--INPUT_HEADLINE-->書き込み<!--/INPUT_HEADLINE--></b></div>
<input type="hidden" value="<!--INPUT_HEAD_NEW-->新しく書く<!--/INPUT_HEAD_NEW--><!--INPUT_HEAD_RES-->返信を書く<!--/INPUT_HEAD_RES--><!--INPUT_HEAD_UPD-->記事を編集<!--/INPUT_HEAD_UPD-->">
<form action="ruk-bbs.cgi" method="post" enctype="multipart/form-data">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="page" value="%PAGE%">
<input type="hidden" name="id" value="%ID%">
<input type="hidden" name="pid" value="%PID%">
<input type="hidden" name="ppid" value="%PPID%">
名前<br><input type="text" name="name" value="%NAME%" size="16"><br>
メール<br><input type="text" name="mail" value="%MAIL%" size="16"><br>
URL<br><input type="text" name="home" value="%HOME%" size="16"><br>
題名<br><input type="text" name="title" value="%TITLE%" size="16"><br>
本文<br><textarea name="mess" rows="5" cols="16">%MESSAGE%</textarea><br>
<!--SELECT_ICON-->アイコン<br>%SELECT_ICON%<br><!--/SELECT_ICON-->
<!--INPUT_FILE-->添付<br>%INPUT_FILE%%WIDTH=16%<!--/INPUT_FILE-->
パスワード（編集・削除用）<br><input type="password" name="passwd" value="%PASSWD%" size="8"><br>
<input type="checkbox" name="resmail" value="1" %RESMAIL_CHECKED%>返信をメールで受け取る<br>
<input type="checkbox" name="preform" value="1" %PREFORM_CHECKED%>整形済み<br>
<input type="checkbox" name="cookie" value="1" checked>名前などを記憶<br>
<input type="submit" name="submit_wri.x" value="書き込む">
</form>
<hr>
<!--/INPUT_FORM-->
<!--DATA_TABLE-->
<!--FOUND_WORD-->
<div>「%WORD%」の検索結果：%NUM%件</div>
<a href="ruk-bbs.cgi?bid=%BID%">掲示板に戻る</a>
<hr>
<!--/FOUND_WORD-->
<!--TABLE_PARENT-->
""" + MOBILE_MESSAGE.format(mark="") + """\
<!--TABLE_CHILD-->
<hr>
""" + MOBILE_MESSAGE.format(mark="&gt; ") + """\
<!--/TABLE_CHILD-->
<hr>
<!--/TABLE_PARENT-->
<!--/DATA_TABLE-->
<!--DATA_TITLE-->
<!--FOUND_RESULT-->
<!--FOUND_RESULT_HEADLINE--><!--/FOUND_RESULT_HEADLINE-->
<a href="ruk-bbs.cgi?bid=%BID%&amp;word=%WORD%&amp;ppid=%PPID%#m%ID%">%TITLE%</a> %NEW_IMAGE%<br>
%NAME% <small>%DATE%</small><br>
%MESSAGE%
<hr>
<!--/FOUND_RESULT-->
<!--/DATA_TITLE-->
<!--NAVIGATION--><!--/NAVIGATION-->
%USER_FOOTER%
<div><small>%SKINSIGNATURE% / %SIGNATURE%</small></div>
<a href="#top" accesskey="2">[2]上へ</a>
</body>
</html>
"""

MOBILE_ICO = MOBILE_HEAD.format(title="アイコン一覧") + """\
<body>
<div><b>%BBS_TITLE%</b></div>
<div>アイコン一覧</div>
<table>
<!--TR_ICON--><tr><!--TD_ICON--><td>%IMAGE%<br>%NAME%</td><!--/TD_ICON--></tr><!--/TR_ICON-->
</table>
<a href="ruk-bbs.cgi?bid=%BID%">掲示板に戻る</a>
</body>
</html>
"""

MOBILE_INFO = MOBILE_HEAD.format(title="お知らせ") + """\
<body>
<div><b>%BBS_TITLE%</b></div>
<p>%MESSAGE%</p>
<a href="%RETURN_CGI%" accesskey="0">[0]戻る</a>
<div><small>%SIGNATURE%</small></div>
</body>
</html>
"""

# ---------------------------------------------------------------------------
# Administration pages. They carry their own style: the template reader
# points the first style-sheet link at the board skin, not at this
# directory, and rebases every image source the same way, so these pages
# use neither.

ADMIN_STYLE = """\
<style>
*,*::before,*::after{box-sizing:border-box}
body{margin:0;background:#eef1f4;color:#222;font-family:"Hiragino Kaku Gothic ProN","Hiragino Sans","Yu Gothic UI","Meiryo","Noto Sans CJK JP",sans-serif;font-size:15px;line-height:1.6}
a{color:#1f5fa8}
.page{max-width:860px;margin:0 auto;padding:8px 12px 24px}
h1{margin:12px 0 4px;font-size:1.4em}
h2{margin:0 0 8px;font-size:1.15em}
.crumbs{margin:0 0 8px;font-size:.9em}
.crumbs a{margin-right:12px;white-space:nowrap}
section{margin:12px 0;padding:12px 16px;background:#fff;border:1px solid #d5dbe2;border-radius:8px}
.danger{border-color:#e2b4b0;background:#fffafa}
.note{margin:4px 0 8px;color:#555;font-size:.88em}
table.form{width:100%;border-collapse:collapse}
.form th{width:14em;padding:6px 10px 6px 0;text-align:left;vertical-align:top;font-weight:bold}
.form td{padding:4px 0}
.form .note{display:block;margin:2px 0 0}
input[type=text],input[type=password],input[type=number],select,textarea{max-width:100%;padding:4px 6px;border:1px solid #b8c1cc;border-radius:4px;font-size:1em;font-family:inherit;background:#fff}
input[type=text],textarea{width:100%}
input[type=number]{width:8em}
textarea{min-height:4em;resize:vertical}
.buttons{margin:12px 0 0;display:flex;flex-wrap:wrap;gap:8px;align-items:center}
button,input[type=submit]{padding:6px 16px;border:1px solid #22507f;border-radius:4px;background:#3468a8;color:#fff;font-size:1em;cursor:pointer}
.danger button,.danger input[type=submit]{border-color:#8c2424;background:#ba3a36}
button.plain{border-color:#9aa5b1;background:#fff;color:#1f2f3f}
.icons td{padding:3px 6px 3px 0}
.icons th{text-align:left;font-size:.9em}
.icons td:first-child{width:3em;text-align:right;font-weight:bold}
footer{margin-top:20px;color:#666;font-size:.85em;text-align:center}
@media (max-width:600px){
\t.form th,.form td{display:block;width:auto;padding:2px 0}
\t.form tr{display:block;margin-bottom:8px}
}
</style>
"""


def admin_head(title):
    return """\
<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="Shift_JIS">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="robots" content="noindex,nofollow">
<title>{title}</title>
""".format(title=title) + ADMIN_STYLE + "</head>\n"


ADMIN_FOOT = """\
<footer>%SIGNATURE%</footer>
</div>
</body>
</html>
"""

# Links shown on every page of one board.
BOARD_CRUMBS = """\
<p class="crumbs"><a href="ruk-config.cgi?submit_read=1">システム設定</a><a href="ruk-config.cgi?bid=%BID%">掲示板の設定</a><a href="ruk-config.cgi?bid=%BID%&amp;mode=icon">アイコン</a><a href="ruk-config.cgi?bid=%BID%&amp;mode=kako">過去ログ</a><a href="ruk-bbs.cgi?bid=%BID%">掲示板を表示</a></p>
"""

LOGIN = admin_head("管理ページ - RUK-BBS") + """\
<body>
<div class="page">
<h1>RUK-BBS 管理ページ</h1>
<section>
<h2>ログイン</h2>
<form action="ruk-config.cgi" method="post">
<table class="form">
<tr><th><label for="login_passwd">管理者パスワード</label></th>
<td><input type="password" id="login_passwd" name="passwd" value="%PASSWD%" required autocomplete="current-password"></td></tr>
</table>
<p class="buttons"><input type="submit" name="submit_login" value="ログイン"></p>
</form>
</section>
<section>
<h2>管理者パスワードの変更</h2>
<p class="note">変更すると、このページのログイン欄に新しいパスワードが入った状態で表示されます。</p>
<form action="ruk-config.cgi" method="post">
<table class="form">
<tr><th><label for="old_passwd">現在のパスワード</label></th>
<td><input type="password" id="old_passwd" name="passwd" required autocomplete="current-password"></td></tr>
<tr><th><label for="new_passwd">新しいパスワード</label></th>
<td><input type="password" id="new_passwd" name="passwd2" value="%PASSWD2%" required autocomplete="new-password"></td></tr>
</table>
<p class="buttons"><input type="submit" name="submit_passwd" value="パスワードを変更"></p>
</form>
</section>
""" + ADMIN_FOOT

# An administrator-password row for the forms that change the system.
ADMIN_PASSWD_ROW = """\
<tr><th><label for="{id}">管理者パスワード</label></th>
<td><input type="password" id="{id}" name="admin_passwd" required autocomplete="current-password"></td></tr>
"""

CONFIG_SYS = admin_head("システム設定 - RUK-BBS") + """\
<body>
<div class="page">
<h1>システム設定</h1>
<p class="crumbs"><a href="ruk-config.cgi">ログイン・パスワード変更</a><a href="ruk-config.cgi?submit_read=1">再読み込み</a></p>
<section>
<h2>掲示板の管理</h2>
<form action="ruk-config.cgi" method="get">
<input type="hidden" name="submit_read" value="1">
<table class="form">
<tr><th>掲示板</th><td>%SELECT_BBS%</td></tr>
<tr><th><label for="sys_mode">開くページ</label></th>
<td><select id="sys_mode" name="mode">
<option value="">掲示板の設定</option>
<option value="icon">アイコンの設定</option>
<option value="kako">過去ログの管理</option>
</select></td></tr>
</table>
<p class="buttons"><button type="submit">管理ページを開く</button>
<button type="submit" class="plain" formaction="ruk-bbs.cgi">掲示板を表示</button></p>
</form>
</section>
<section>
<h2>掲示板の追加</h2>
<form action="ruk-config.cgi" method="post">
<table class="form">
<tr><th><label for="add_bbsid">掲示板ID</label></th>
<td><input type="text" id="add_bbsid" name="bbsid" required pattern="[A-Za-z0-9_\\-]+" maxlength="32">
<span class="note">半角英数字と「_」「-」で付けてください。掲示板のアドレスは ruk-bbs.cgi?bid=掲示板ID になります。</span></td></tr>
<tr><th>データディレクトリ</th>
<td><label><input type="checkbox" name="datadir_make" value="1" checked> data/掲示板ID/ を作成して使う</label>
<span class="note">新しい掲示板のパスワードは「掲示板の初期パスワード」になります。先にシステムの設定で初期パスワードを決めておいてください。</span></td></tr>
""" + ADMIN_PASSWD_ROW.format(id="add_admin") + """\
</table>
<p class="buttons"><input type="submit" name="submit_add" value="掲示板を追加"></p>
</form>
</section>
<section class="danger">
<h2>掲示板の削除</h2>
<form action="ruk-config.cgi" method="post">
<table class="form">
<tr><th><label for="del_bbsid">掲示板ID</label></th>
<td><input type="text" id="del_bbsid" name="bbsid" required pattern="[A-Za-z0-9_\\-]+" maxlength="32"></td></tr>
<tr><th>データディレクトリ</th>
<td><label><input type="checkbox" name="datadir_del" value="1"> 記事と添付ファイルも削除する（元に戻せません）</label></td></tr>
""" + ADMIN_PASSWD_ROW.format(id="del_admin") + """\
</table>
<p class="buttons"><input type="submit" name="submit_del" value="掲示板を削除" onclick="return confirm('掲示板を削除します。よろしいですか？');"></p>
</form>
</section>
<section>
<h2>システムの設定と新しい掲示板の初期値</h2>
<form action="ruk-config.cgi" method="post">
<table class="form">
<tr><th>作成するファイルの権限</th><td>%SELECT_F_MODE%</td></tr>
<tr><th>作成するディレクトリの権限</th><td>%SELECT_D_MODE%</td></tr>
<tr><th><label for="sys_sendmail">メール送信プログラム</label></th>
<td><input type="text" id="sys_sendmail" name="sendmail" value="%SENDMAIL%"></td></tr>
<tr><th><label for="sys_passwd">掲示板の初期パスワード</label></th>
<td><input type="password" id="sys_passwd" name="passwd" value="%PASSWD%" autocomplete="new-password">
<span class="note">新しく追加する掲示板のパスワードです（追加したあと、掲示板の設定で変更できます）。ログインしたときだけ表示され、空欄のまま保存すると変更されません。</span></td></tr>
<tr><th><label for="sys_icon_max">アイコンの最大番号</label></th>
<td><input type="number" id="sys_icon_max" name="icon_max" value="%ICON_MAX%" min="1"></td></tr>
<tr><th><label for="sys_attach_max">添付ファイル数の上限</label></th>
<td><input type="number" id="sys_attach_max" name="attach_max" value="%ATTACH_MAX%" min="1"></td></tr>
<tr><th><label for="sys_log_limit">保存記事数の上限</label></th>
<td><input type="number" id="sys_log_limit" name="log_limit" value="%LOG_LIMIT%" min="1"></td></tr>
<tr><th><label for="sys_title">掲示板のタイトル</label></th>
<td><input type="text" id="sys_title" name="bbs_title" value="%BBS_TITLE%"></td></tr>
<tr><th><label for="sys_ppnum">1ページのスレッド数</label></th>
<td><input type="number" id="sys_ppnum" name="page_ppnum" value="%PAGE_PPNUM%" min="1"></td></tr>
<tr><th><label for="sys_ppnum2">1ページのスレッド数（タイトル表示）</label></th>
<td><input type="number" id="sys_ppnum2" name="page_ppnum2" value="%PAGE_PPNUM2%" min="1"></td></tr>
<tr><th><label for="sys_log_max">保存する記事数</label></th>
<td><input type="number" id="sys_log_max" name="log_max" value="%LOG_MAX%" min="1"></td></tr>
<tr><th><label for="sys_attach_num">1回に添付できるファイル数</label></th>
<td><input type="number" id="sys_attach_num" name="attach_num" value="%ATTACH_NUM%" min="1"></td></tr>
<tr><th><label for="sys_attach_size">添付ファイルの合計サイズ（KB）</label></th>
<td><input type="number" id="sys_attach_size" name="attach_size" value="%ATTACH_SIZE%" min="1"></td></tr>
<tr><th><label for="sys_embed_size">本文に表示する画像の最大サイズ（KB）</label></th>
<td><input type="number" id="sys_embed_size" name="embed_size" value="%EMBED_SIZE%" min="1"></td></tr>
<tr><th><label for="sys_new_time">新着マークを付ける時間</label></th>
<td><input type="number" id="sys_new_time" name="new_time" value="%NEW_TIME%" min="0"> 時間</td></tr>
<tr><th><label for="sys_hh">時刻の補正</label></th>
<td><input type="number" id="sys_hh" name="timelag_hh" value="%TIMELAG_HH%" min="-24" max="24"> 時間
<input type="number" name="timelag_mm" value="%TIMELAG_MM%" min="-60" max="60" aria-label="時刻の補正（分）"> 分</td></tr>
<tr><th>機能</th>
<td><label><input type="checkbox" name="new_order" value="1" %NEW_ORDER_CHECKED%> 返信を新しい順に表示</label><br>
<label><input type="checkbox" name="use_attach" value="1" %ATTACH_CHECKED%> ファイルの添付を許可</label><br>
<label><input type="checkbox" name="attach_embed" value="1" %EMBED_CHECKED%> 添付画像を本文に表示</label><br>
<label><input type="checkbox" name="use_icon" value="1" %ICON_CHECKED%> アイコンを使う</label><br>
<label><input type="checkbox" name="log_del" value="1" %LOGDEL_CHECKED%> 記事数が上限を超えたら古いスレッドから削除</label></td></tr>
<tr><th><label for="sys_header">ページの上に表示する文</label></th>
<td><textarea id="sys_header" name="user_header" rows="3">%USER_HEADER%</textarea></td></tr>
<tr><th><label for="sys_footer">ページの下に表示する文</label></th>
<td><textarea id="sys_footer" name="user_footer" rows="3">%USER_FOOTER%</textarea></td></tr>
""" + ADMIN_PASSWD_ROW.format(id="sys_admin") + """\
</table>
<p class="buttons"><input type="submit" name="submit_sys" value="システム設定を保存"></p>
</form>
</section>
""" + ADMIN_FOOT

# The board password row shared by the board pages.
BOARD_PASSWD_ROW = """\
<tr><th><label for="{id}">掲示板のパスワード</label></th>
<td><input type="password" id="{id}" name="passwd" value="%PASSWD%" required autocomplete="current-password"></td></tr>
"""

CONFIG_BBS = admin_head("掲示板の設定 - %BBS_TITLE%") + """\
<body>
<div class="page">
<h1>掲示板の設定</h1>
""" + BOARD_CRUMBS + """\
<section>
<form action="ruk-config.cgi" method="post">
<input type="hidden" name="bid" value="%BID%">
<table class="form">
<tr><th><label for="b_title">タイトル</label></th>
<td><input type="text" id="b_title" name="bbs_title" value="%BBS_TITLE%" required></td></tr>
<tr><th><label for="b_home">ホームページのアドレス</label></th>
<td><input type="text" id="b_home" name="home_url" value="%HOME%"></td></tr>
<tr><th><label for="b_owner">管理者のメールアドレス</label></th>
<td><input type="text" id="b_owner" name="owner_mail" value="%OWNER_MAIL%" inputmode="email"></td></tr>
<tr><th><label for="b_cc">通知の写し（CC）</label></th>
<td><input type="text" id="b_cc" name="cc_mail" value="%CC_MAIL%" inputmode="email"></td></tr>
<tr><th>メール通知</th>
<td><label><input type="checkbox" name="use_mail" value="1" %MAIL_CHECKED%> 書き込みがあったら管理者にメールで知らせる</label></td></tr>
<tr><th><label for="b_datadir">データディレクトリ</label></th>
<td><input type="text" id="b_datadir" name="datadir" value="%DATADIR%" required>
<span class="note">記事と添付ファイルを置くディレクトリです（例：data/掲示板ID/）。</span></td></tr>
<tr><th><label for="b_skindir">スキンディレクトリ</label></th>
<td><input type="text" id="b_skindir" name="skindir" value="%SKINDIR%" required></td></tr>
<tr><th><label for="b_skinurl">スキンのアドレス</label></th>
<td><input type="text" id="b_skinurl" name="skinurl" value="%SKINURL%">
<span class="note">空欄にすると、スキンディレクトリから求めます。</span></td></tr>
<tr><th><label for="b_css">スタイルシートのアドレス</label></th>
<td><input type="text" id="b_css" name="stylesheet" value="%STYLESHEET%">
<span class="note">空欄ならスキンのスタイルシートを使います。</span></td></tr>
<tr><th><label for="b_new_image">新着マークの画像</label></th>
<td><input type="text" id="b_new_image" name="new_image" value="%NEW_IMAGE%">
<span class="note">空欄ならスキンの new.gif を使います。</span></td></tr>
<tr><th><label for="b_new_time">新着マークを付ける時間</label></th>
<td><input type="number" id="b_new_time" name="new_time" value="%NEW_TIME%" min="0"> 時間</td></tr>
<tr><th><label for="b_hh">時刻の補正</label></th>
<td><input type="number" id="b_hh" name="timelag_hh" value="%TIMELAG_HH%" min="-24" max="24"> 時間
<input type="number" name="timelag_mm" value="%TIMELAG_MM%" min="-60" max="60" aria-label="時刻の補正（分）"> 分</td></tr>
<tr><th><label for="b_ppnum">1ページのスレッド数</label></th>
<td><input type="number" id="b_ppnum" name="page_ppnum" value="%PAGE_PPNUM%" min="1"></td></tr>
<tr><th><label for="b_ppnum2">1ページのスレッド数（タイトル表示）</label></th>
<td><input type="number" id="b_ppnum2" name="page_ppnum2" value="%PAGE_PPNUM2%" min="1"></td></tr>
<tr><th><label for="b_log_max">保存する記事数</label></th>
<td><input type="number" id="b_log_max" name="log_max" value="%LOG_MAX%" min="1">
<span class="note">上限 %LOG_LIMIT% 件</span></td></tr>
<tr><th><label for="b_attach_num">1回に添付できるファイル数</label></th>
<td><input type="number" id="b_attach_num" name="attach_num" value="%ATTACH_NUM%" min="1">
<span class="note">上限 %ATTACH_MAX% 個</span></td></tr>
<tr><th><label for="b_attach_size">添付ファイルの合計サイズ（KB）</label></th>
<td><input type="number" id="b_attach_size" name="attach_size" value="%ATTACH_SIZE%" min="1"></td></tr>
<tr><th><label for="b_embed_size">本文に表示する画像の最大サイズ（KB）</label></th>
<td><input type="number" id="b_embed_size" name="embed_size" value="%EMBED_SIZE%" min="1"></td></tr>
<tr><th>機能</th>
<td><label><input type="checkbox" name="new_order" value="1" %NEW_ORDER_CHECKED%> 返信を新しい順に表示</label><br>
<label><input type="checkbox" name="use_attach" value="1" %ATTACH_CHECKED%> ファイルの添付を許可</label><br>
<label><input type="checkbox" name="attach_embed" value="1" %EMBED_CHECKED%> 添付画像を本文に表示</label><br>
<label><input type="checkbox" name="use_icon" value="1" %ICON_CHECKED%> アイコンを使う</label><br>
<label><input type="checkbox" name="log_del" value="1" %LOGDEL_CHECKED%> 記事数が上限を超えたら古いスレッドから削除</label></td></tr>
<tr><th><label for="b_deny">アクセス拒否リスト</label></th>
<td><input type="text" id="b_deny" name="denyfile" value="%DENYFILE%">
<span class="note">拒否するアドレスやホスト名を書いたファイルの名前です。空欄なら確認しません。</span></td></tr>
<tr><th><label for="b_header">ページの上に表示する文</label></th>
<td><textarea id="b_header" name="user_header" rows="3">%USER_HEADER%</textarea></td></tr>
<tr><th><label for="b_footer">ページの下に表示する文</label></th>
<td><textarea id="b_footer" name="user_footer" rows="3">%USER_FOOTER%</textarea></td></tr>
<tr><th><label for="b_write_passwd">書き込み用パスワード</label></th>
<td><input type="password" id="b_write_passwd" name="write_passwd" value="%WRITE_PASSWD%" autocomplete="new-password">
<span class="note">設定すると、このパスワードを知っている人だけが書き込めます。空欄にすると誰でも書き込めます。</span></td></tr>
""" + BOARD_PASSWD_ROW.format(id="b_passwd") + """\
<tr><th><label for="b_passwd2">新しい掲示板のパスワード</label></th>
<td><input type="password" id="b_passwd2" name="passwd2" value="%PASSWD2%" autocomplete="new-password">
<span class="note">変更するときだけ入力してください。</span></td></tr>
</table>
<p class="buttons"><input type="submit" name="submit_config" value="設定を保存"></p>
</form>
</section>
""" + ADMIN_FOOT

CONFIG_ICO = admin_head("アイコンの設定 - %BBS_TITLE%") + """\
<body>
<div class="page">
<h1>アイコンの設定</h1>
""" + BOARD_CRUMBS + """\
<section>
<p class="note">番号ごとにアイコンの名前と画像のアドレスを入力します。アドレスが空欄の番号は選べません。0番は管理者専用です。</p>
<form action="ruk-config.cgi" method="post">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="mode" value="icon">
<table class="icons">
<tr><th>番号</th><th>名前</th><th>画像のアドレス</th></tr>
<!--TR_ICON--><tr><td>%No%</td><td><input type="text" name="ico_name%No%" value="%NAME%" aria-label="アイコン%No%の名前"></td><td><input type="text" name="ico_url%No%" value="%URL%" aria-label="アイコン%No%の画像のアドレス"></td></tr>
<!--/TR_ICON-->
</table>
<table class="form">
""" + BOARD_PASSWD_ROW.format(id="i_passwd") + """\
</table>
<p class="buttons"><input type="submit" name="submit_icon" value="アイコンを保存"></p>
</form>
</section>
""" + ADMIN_FOOT

CONFIG_OLD = admin_head("過去ログの管理 - RUK-BBS") + """\
<body>
<div class="page">
<h1>過去ログの管理</h1>
""" + BOARD_CRUMBS + """\
<section>
<p>現在の記事数：%TOTAL% 件</p>
<p class="note">過去ログは ruk-bbs.cgi?bid=掲示板ID=過去ログ名 で表示できます。過去ログの名前には半角英数字と「_」「-」が使えます。</p>
<form action="ruk-config.cgi" method="post">
<input type="hidden" name="bid" value="%BID%">
<input type="hidden" name="mode" value="kako">
<table class="form">
<tr><th>操作</th>
<td><label><input type="radio" name="opt" value="new" checked> 作成：1ページ目より後のスレッドを新しい過去ログに移す</label><br>
<label><input type="radio" name="opt" value="div"> 分割：過去ログ1の前半を新しい過去ログに移す</label><br>
<label><input type="radio" name="opt" value="mrg"> 統合：過去ログ1を過去ログ2に移して、過去ログ1を削除する</label><br>
<label><input type="radio" name="opt" value="ren"> 名前の変更：過去ログ1を新しい名前にする</label><br>
<label><input type="radio" name="opt" value="del"> 削除：過去ログ1を削除する（元に戻せません）</label></td></tr>
<tr><th>過去ログ1</th><td>%SELECT_LOG%</td></tr>
<tr><th>過去ログ2（統合先）</th><td>%SELECT_LOG2%</td></tr>
<tr><th><label for="o_kako_id">新しい過去ログの名前</label></th>
<td><input type="text" id="o_kako_id" name="kako_id" pattern="[A-Za-z0-9_\\-]+" maxlength="32"></td></tr>
""" + BOARD_PASSWD_ROW.format(id="o_passwd") + """\
</table>
<p class="buttons"><input type="submit" name="submit_kako" value="実行"></p>
</form>
</section>
""" + ADMIN_FOOT

# ---------------------------------------------------------------------------

def per_hex(data: bytes) -> bytes:
    """Percent-encodes as the settings files are written: letters, digits and
    *-._ as they are, a blank as "+", every other byte as %XX."""
    out = bytearray()
    for c in data:
        if c == 0x20:
            out += b"+"
        elif c in SAFE:
            out.append(c)
        else:
            out += b"%%%02X" % c
    return bytes(out)


def encoded_settings(pairs):
    return b"".join(per_hex(k.encode("cp932")) + b"=" + per_hex(v.encode("cp932")) + b"\n"
                    for k, v in pairs)


def catalogue_bytes():
    lines = []
    for key, text in CATALOGUE:
        lines.append(("%s=%s\n" % (key, text)).encode("cp932"))
    return b"".join(lines)


def sjis(text):
    return text.encode("cp932")


FILES = [
    ("dat-message.dat", "catalogue", catalogue_bytes),
    ("dat-system.sample.dat", "settings", lambda: encoded_settings(SYSTEM_SAMPLE)),
    ("default.keit", "settings", lambda: encoded_settings(MOBILE_TABLE)),
    ("sys-signature", "text", lambda: sjis(SYS_SIGNATURE)),
    ("skin/default/signature", "text", lambda: sjis(DEFAULT_SIGNATURE)),
    ("skin/default/ruk-bbs.css", "css", lambda: sjis(STYLE_SHEET)),
    ("skin/default/templ_bbs.html", "html", lambda: sjis(DEFAULT_BBS)),
    ("skin/default/templ_ico.html", "html", lambda: sjis(DEFAULT_ICO)),
    ("skin/default/templ_info.html", "html", lambda: sjis(DEFAULT_INFO)),
    ("skin/mobile/signature", "text", lambda: sjis(MOBILE_SIGNATURE)),
    ("skin/mobile/templ_bbs.html", "html", lambda: sjis(MOBILE_BBS)),
    ("skin/mobile/templ_ico.html", "html", lambda: sjis(MOBILE_ICO)),
    ("skin/mobile/templ_info.html", "html", lambda: sjis(MOBILE_INFO)),
    ("skin/config/templ_login.html", "html", lambda: sjis(LOGIN)),
    ("skin/config/templ_config_sys.html", "html", lambda: sjis(CONFIG_SYS)),
    ("skin/config/templ_config_bbs.html", "html", lambda: sjis(CONFIG_BBS)),
    ("skin/config/templ_config_ico.html", "html", lambda: sjis(CONFIG_ICO)),
    ("skin/config/templ_config_old.html", "html", lambda: sjis(CONFIG_OLD)),
]

MARKER = re.compile(rb"<!--(/?)([A-Z][A-Z0-9_]*)-->")


def check_html(name, data):
    """Problems of a template: missing charset, double blanks, unpaired or
    crossed block markers."""
    problems = []
    if b'<meta charset="Shift_JIS">' not in data:
        problems.append("no Shift_JIS charset declaration")
    if b"  " in data:
        line = data[:data.index(b"  ")].count(b"\n") + 1
        problems.append("two blanks in a row on line %d" % line)
    open_blocks = []
    for m in MARKER.finditer(data):
        closing, block = m.group(1) == b"/", m.group(2).decode()
        if not closing:
            if block in open_blocks:
                problems.append("block %s opened inside itself" % block)
            open_blocks.append(block)
        elif not open_blocks or open_blocks[-1] != block:
            problems.append("block %s closed out of order" % block)
        else:
            open_blocks.pop()
    if open_blocks:
        problems.append("blocks left open: %s" % ", ".join(open_blocks))
    return problems


def check_catalogue():
    problems = []
    keys = [k for k, _ in CATALOGUE]
    if len(set(keys)) != len(keys):
        problems.append("a key occurs twice")
    for key, text in CATALOGUE:
        rest = text.replace("%%", "")
        if key == "msg54":
            rest = rest.replace("%ID%", "")
        if "%" in rest:
            problems.append("%s holds a single percent sign" % key)
        if "\n" in text or "  " in text:
            problems.append("%s holds a line break or two blanks" % key)
    return problems


def main():
    check = "--check" in sys.argv[1:]
    failed = False
    for name, kind, make in FILES:
        try:
            data = make()
        except UnicodeEncodeError as e:
            print("%s: not encodable in Shift_JIS: %s" % (name, e))
            failed = True
            continue
        problems = []
        if kind == "html":
            problems = check_html(name, data)
        elif kind == "catalogue":
            problems = check_catalogue()
        for p in problems:
            print("%s: %s" % (name, p))
        failed = failed or bool(problems)
        path = os.path.join(SITE, name)
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() != data:
                        print("%s: differs from the generated text" % name)
                        failed = True
            except OSError:
                print("%s: missing" % name)
                failed = True
        elif not problems:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
