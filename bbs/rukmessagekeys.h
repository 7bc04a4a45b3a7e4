// The keys of the message catalogue "dat-message.dat", named by what the
// text says. Every text a visitor or an administrator reads comes from the
// catalogue by one of these keys (MessageKey, MessageFill, the
// administration's notices); a text with a value in it names the tag that
// takes it. A new text is one line of the catalogue (in site-text/) and
// one constant here.
#ifndef RUKMESSAGEKEYS_H
#define RUKMESSAGEKEYS_H

// --- passwords and logins
inline constexpr char kMsgNoPassword[] = "msg01";            // no password typed
inline constexpr char kMsgNoNewPassword[] = "msg02";         // no new password typed
inline constexpr char kMsgWrongPassword[] = "msg03";         // the password does not verify
inline constexpr char kMsgPasswordMismatch[] = "msg69";      // the two typings differ
inline constexpr char kMsgTooManyPasswordTries[] = "msg65";  // %WAIT%: minutes
inline constexpr char kMsgNotLoggedIn[] = "msg68";           // no session, or it does not allow it
inline constexpr char kMsgForgedForm[] = "msg64";            // not a same-origin POST with its token
inline constexpr char kMsgPasswordChanged[] = "msg88";
inline constexpr char kMsgLoggedOut[] = "msg113";

// --- the board registry and a board's settings
inline constexpr char kMsgBoardExists[] = "msg04";
inline constexpr char kMsgNoBoardId[] = "msg05";
inline constexpr char kMsgSettingsNotWritten[] = "msg06";  // the board's settings file
inline constexpr char kMsgNoDataDir[] = "msg07";
inline constexpr char kMsgDataDirMissing[] = "msg08";
inline constexpr char kMsgDataDirNoLock[] = "msg09";       // no lock file can be made there
inline constexpr char kMsgDataDirRefused[] = "msg10";      // not a board's own below data/
inline constexpr char kMsgNoSuchBoard[] = "msg11";
inline constexpr char kMsgBoardNotReady[] = "msg14";       // no data directory or title
inline constexpr char kMsgNoTitle[] = "msg15";
inline constexpr char kMsgNoSkinDir[] = "msg16";
inline constexpr char kMsgSkinDirMissing[] = "msg17";
inline constexpr char kMsgSkinIncomplete[] = "msg18";      // a template is missing
inline constexpr char kMsgDataDirIsSkinDir[] = "msg19";
inline constexpr char kMsgNoBoard[] = "msg40";             // the request names no board
inline constexpr char kMsgBadAddress[] = "msg80";          // a URL setting
inline constexpr char kMsgBadMailFrom[] = "msg81";
inline constexpr char kMsgBadNgFile[] = "msg82";
inline constexpr char kMsgBadName[] = "msg98";             // a board id or old-log name
inline constexpr char kMsgSystemSaved[] = "msg83";
inline constexpr char kMsgBoardSaved[] = "msg84";
inline constexpr char kMsgBoardAdded[] = "msg85";              // %ID%
inline constexpr char kMsgBoardRemoved[] = "msg86";            // %ID%
inline constexpr char kMsgBoardRemovedWithData[] = "msg87";    // %ID%
inline constexpr char kMsgAskRemoveBoard[] = "msg101";         // %ID%
inline constexpr char kMsgAskRemoveBoardWithData[] = "msg102"; // %ID%

// --- posting
inline constexpr char kMsgNoName[] = "msg20";
inline constexpr char kMsgNoSubject[] = "msg21";
inline constexpr char kMsgNoBody[] = "msg22";
inline constexpr char kMsgAttachTypeRefused[] = "msg23";
inline constexpr char kMsgRequestRefused[] = "msg24";     // too large, too many fields, cut
inline constexpr char kMsgDuplicatePost[] = "msg25";
inline constexpr char kMsgAdminIcon[] = "msg26";          // the icon is the administrator's
inline constexpr char kMsgAttachNameTaken[] = "msg27";
inline constexpr char kMsgHasReplies[] = "msg30";
inline constexpr char kMsgWritePasswordNeeded[] = "msg41";
inline constexpr char kMsgPostTooSoon[] = "msg60";        // %WAIT%: seconds
inline constexpr char kMsgFieldTooLong[] = "msg61";       // %FIELD%, %MAX%
inline constexpr char kMsgNoJapanese[] = "msg62";
inline constexpr char kMsgSpam[] = "msg63";               // too many links or an NG word
inline constexpr char kMsgMessageGone[] = "msg66";
inline constexpr char kMsgAttachTooLarge[] = "msg72";     // %LIMIT%
inline constexpr char kMsgReservedName[] = "msg73";       // %NAME%
inline constexpr char kMsgNoParent[] = "msg99";

// --- old logs
inline constexpr char kMsgNoOldLogName[] = "msg50";
inline constexpr char kMsgNoOldLogChosen[] = "msg51";
inline constexpr char kMsgOldLogExists[] = "msg52";
inline constexpr char kMsgNoOldLogOperation[] = "msg53";
inline constexpr char kMsgShowingOldLog[] = "msg54";      // %ID%
inline constexpr char kMsgOldLogReadOnly[] = "msg67";
inline constexpr char kMsgThreadGone[] = "msg70";
inline constexpr char kMsgThreadInOldLog[] = "msg71";     // %LINK%
inline constexpr char kMsgOldLogMade[] = "msg92";         // %ID%
inline constexpr char kMsgNoThreadsToMove[] = "msg93";
inline constexpr char kMsgOldLogSplit[] = "msg94";        // %ID%, %ID2%
inline constexpr char kMsgOldLogMerged[] = "msg95";       // %ID%, %ID2%
inline constexpr char kMsgOldLogRenamed[] = "msg96";      // %ID%, %ID2%
inline constexpr char kMsgOldLogRemoved[] = "msg97";      // %ID%
inline constexpr char kMsgAskRemoveOldLog[] = "msg100";   // %ID%

// --- icons
inline constexpr char kMsgIconsSaved[] = "msg89";
inline constexpr char kMsgIconUploaded[] = "msg91";       // %NO%
inline constexpr char kMsgBadIconPicture[] = "msg109";
inline constexpr char kMsgIconTooLarge[] = "msg110";
inline constexpr char kMsgNoIconChosen[] = "msg111";
inline constexpr char kMsgIconNotStored[] = "msg112";

// --- moderation
inline constexpr char kMsgMessagesDeleted[] = "msg103";   // %COUNT%
inline constexpr char kMsgDenyAdded[] = "msg104";         // %ENTRY%
inline constexpr char kMsgDenyPresent[] = "msg105";       // %ENTRY%
inline constexpr char kMsgBadDenyEntry[] = "msg106";
inline constexpr char kMsgDenyListNotWritten[] = "msg107";
inline constexpr char kMsgNoMessagesChosen[] = "msg108";

// --- any request
inline constexpr char kMsgBusy[] = "msg90";  // the lock stayed busy, or a file failed
inline constexpr char kMsgNotWritten[] = "msg114";  // a file could not be written

#endif
