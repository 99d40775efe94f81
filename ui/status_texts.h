// The texts of the status line. Nothing else is ever shown there.
#pragma once

inline constexpr char kStatusIdle[] = "Idle";  // from the dialog layout
inline constexpr char kStatusOpenFile[] = "Open File";
// Each follows the port's name.
inline constexpr char kStatusOpenSuccess[] = " open success! ";
inline constexpr char kStatusOpenFail[] = " open fail! ";
inline constexpr char kStatusConnectFail[] = " connect fail... ";
// Four blanks after the dots, two at the end.
inline constexpr char kStatusProgressFormat[] = "Programming...    %d%% Done  ";
