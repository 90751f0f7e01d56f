// The show's 67 image files in the order the asset table loads them, shared
// by the tests that pack stand-ins for them.
#pragma once

inline constexpr const char* kShowImageFiles[67] = {
    "introbg.png", "text_keldrun.png", "text_serve.png", "text_fizzing.png", "text_haldex2023.png",
    "titlebg.png", "logo0a.png", "logo0b.png", "logo0c.png", "twister.png", "text_wannasprox.png",
    "text_sproxfever.png", "text_orange.png", "sprox_girl1080.png", "credit_pelnik.png", "credit_dravo.png",
    "credit_sune.png", "credit_quibbet.png", "credit_torvin2.png", "credit_label1.png", "credit_label2.png",
    "text_greetings1.png", "text_greetings2.png", "text_greetings3a.png", "text_greetings3b.png",
    "text_greetings3c.png", "text_greetings3d.png", "text_greetings4a.png", "text_greetings4b.png",
    "text_greetings5.png", "text_greetings6a.png", "text_greetings6b.png", "text_greetings6c.png",
    "text_greetings6d.png", "text_greetings6e.png", "text_greetings7a.png", "text_greetings7b.png",
    "text_greetings7c.png", "text_greetings8.png", "ballsbg.png", "blackbg.png", "bluebg.png",
    "nutrician.png", "cigburn.png", "sugaricon2.png", "vintage8.png", "vintage8b.png", "noise.png", "mono.png",
    "widescreen2.png", "text_closing.png", "closing0.png", "grisp.png", "damage.png", "flash0.png",
    "flash1.png", "flash3.png", "flash4.png", "flash5.png", "flash6.png", "text_dots.png", "text_own1.png",
    "text_own2.png", "text_own3.png", "text_owndemoscene.png", "text_owedemoscene.png",
    "text_owedemoscene2.png"};
