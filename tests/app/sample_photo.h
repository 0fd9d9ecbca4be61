// The summary of the sample photo that the build makes beside the program
// (app/tools/make_sample.cpp), in UTF-8, as --print writes it.
#pragma once

#include <string>

namespace peloria::testing {

inline std::string SampleSummary() {
  return "F値               :2.8\n"
         "シャッター速度    :1/250秒\n"
         "露出補正          :-0.333333333333333\n"
         "ISO感度           :200\n"
         "焦点距離(35mm換算):35mm\n"
         "ホワイトバランス  :自動\n"
         "露光モード        :プログラム\n"
         "サイズ            :640 * 480\n"
         "撮影日時          :2024:05:18 10:30:00\n"
         "機種名            :Peloria PX-1\n";
}

}  // namespace peloria::testing
