// ui_probe: prints a window of another process, with its controls, as JSON.
// A Windows console program, run under the same Wine as the program under
// test; the Wine tests read its output.
//
// Usage:
//   ui_probe [--title TEXT] [--pid PID] [--exe NAME] [--visible] [--wait MS]
//   ui_probe --boxes [--pid PID] [--exe NAME] [--wait MS]
//
//   --title TEXT  a top-level window whose title contains TEXT (bytes,
//                 case-sensitive; the argument is taken as Windows-1252).
//   --pid PID     a top-level window of that process (decimal id, as
//                 Windows sees it: under Wine, not the Linux pid).
//   --exe NAME    a top-level window of a process whose executable file
//                 name is NAME, compared without case ("update_client.exe").
//   --visible     only windows that are visible.
//   --wait MS     retry every 100 ms for up to MS milliseconds until a
//                 matching window (or, with --boxes, a message box) exists.
//   --boxes       list the message boxes (class "#32770") of the process
//                 named by --pid or --exe (of every process when neither is
//                 given) instead of describing one window.
// The filters combine. Among several matches the first visible one in
// z-order is taken, else the first one. Message boxes (class "#32770") are
// never taken as "the window" unless --title names one.
//
// Exit code: 0 found, 1 nothing found (the JSON is then {"error": "..."}),
// 2 bad arguments.
//
// Output of a window (one JSON object; rectangles are [left, top, right,
// bottom]; texts are converted from Windows-1252 to JSON strings):
// {
//   "window": {
//     "handle": 1234, "pid": 56, "class": "...", "title": "...",
//     "rect": [l, t, r, b],            outer frame, screen coordinates
//     "client": [width, height],       inner area size
//     "client_origin": [x, y],         inner area's top-left on the screen
//     "visible": true, "enabled": true, "minimised": false,
//     "style": 281542656, "exstyle": 256,  (decimal)
//     "caption": true,                 (style & WS_CAPTION) == WS_CAPTION
//     "system_menu": true,             style & WS_SYSMENU
//     "topmost": false,                exstyle & WS_EX_TOPMOST
//     "foreground": true               it is GetForegroundWindow()
//   },
//   "focus": 3,              control id of the focused child, null if none
//   "controls": [            every descendant window, in creation order
//     {                      (EnumChildWindows order)
//       "handle": 1240, "id": 3,    id = GetDlgCtrlID (the toolkit gives
//                                   each control its number as its id)
//       "class": "Button", "text": "...",
//       "rect": [l, t, r, b],       screen coordinates
//       "client_rect": [x, y, w, h] relative to the window's inner area
//       "enabled": true, "visible": true, "focused": false,
//       "style": 1342177280, "exstyle": 0,
//       // only for class msctls_progress32:
//       "progress": {"pos": 40, "min": 0, "max": 100},
//       // only for class msctls_statusbar32:
//       "fields": ["text of field 0", "..."], "field_ends": [350, -1],
//       // only for class SysListView32:
//       "view": 0,                  LVS_TYPEMASK of the style: 0 icon,
//                                   1 report, 2 small icon, 3 list
//       "items": [{"text": "first column", "columns": ["first", "second"],
//                  "selected": true, "focused": false, "rect": [l, t, r, b]}]
//                                   item rect in screen coordinates
//                                   (LVIR_BOUNDS), for clicking it
//     }
//   ],
//   "message_box": null or a box as below: the foreground window when it
//                  is a message box of the same process
// }
//
// Output of --boxes:
// {"boxes": [{"handle": 1300, "pid": 56, "title": "", "text": "...",
//             "icon": "stop" | "information" | "warning" | "question" |
//                     "none" | "other",
//             "buttons": ["OK"], "rect": [l, t, r, b], "visible": true,
//             "owner": 1234 (handle of the owner window, 0 if none)}]}
