// The Web Audio side of sound/output_web.cpp: one AudioContext at the mixer's
// rate and a ScriptProcessorNode that pulls one ring slot per callback.
// The page may create the context itself inside its Play button's click
// (browsers start sound only after a user gesture) as Module.sproxAudio.
mergeInto(LibraryManager.library, {
  sprox_audio_open: function (rate, channels, frames) {
    var Ctx = window.AudioContext || window.webkitAudioContext;
    if (!Ctx) return 0;
    var ctx = Module.sproxAudio;
    try {
      if (!ctx || ctx.sampleRate !== rate) ctx = new Ctx({ sampleRate: rate });
    } catch (e) {
      return 0;
    }
    Module.sproxAudio = ctx;
    var node = ctx.createScriptProcessor(frames, 0, 2);
    node.onaudioprocess = function (event) {
      var out = event.outputBuffer;
      var left = out.getChannelData(0), right = out.getChannelData(1);
      // Frames between the loudspeaker now and the start of this buffer.
      var ahead = 0;
      if (ctx.getOutputTimestamp) {
        var stamp = ctx.getOutputTimestamp();
        var heard = stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
        ahead = (event.playbackTime - heard) * rate;
      }
      // After a fatal end (ABORT) the engine is gone: silence.
      var ptr = ABORT ? 0 : Module._web_audioprocess(ahead);
      if (!ptr) {
        left.fill(0);
        right.fill(0);
        return;
      }
      var pcm = HEAP16.subarray(ptr >> 1, (ptr >> 1) + frames * channels);
      for (var i = 0; i < frames; i++) {
        var l = pcm[i * channels] / 32768;
        left[i] = l;
        right[i] = channels > 1 ? pcm[i * channels + 1] / 32768 : l;
      }
    };
    node.connect(ctx.destination);
    Module.sproxAudioNode = node;  // kept alive: a node nothing refers to stops
    if (ctx.state === 'suspended') ctx.resume();
    return 1;
  },
});
