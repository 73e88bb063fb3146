#!/usr/bin/env bash
# Mutation scores per area on a fixed seed and file list, so that two versions of the
# tests can be compared mutant by mutant:
#   scripts/mutants.sh [--out DIR] [AREA ...]     (areas: core model keyboard views
#                                                 shell paste service audio; default all)
# Needs a configured build/ folder and the mutation tool beside the repository
# (../shared/tools/mutants) or in $WISPEN_MUTANTS. Sources are restored after each
# mutant; do not edit the tree while it runs. One area takes 15 to 60 minutes.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${WISPEN_MUTANTS:-$root/../shared/tools/mutants}
out=$root/build/mutants
if [ "${1:-}" = --out ]; then out=$2; shift 2; fi
areas=${*:-"core model keyboard views shell paste service audio"}
mkdir -p "$out"
cd "$root"
for a in $areas; do
  case $a in
  core) files="VeridovCore/TranscriptionContract.cpp VeridovCore/TranscriptionClient.cpp VeridovCore/ServiceAddress.cpp VeridovCore/RecordingSession.cpp VeridovCore/HttpReplyReader.cpp"
        tests='^(core_tests|client_tests)$'; targets="core_tests client_tests";;
  model) files="Wispen/model/ReradazIzavo.cpp Wispen/model/ReradazIzavoDelivery.cpp Wispen/model/ReradazIzavoLifecycle.cpp Wispen/model/ReradazIzavoRecording.cpp Wispen/model/RecordingFolders.cpp"
        tests='^(model_tests|clipboard_tests)$'; targets="model_tests clipboard_tests";;
  keyboard) files="VeridovCore/MicrophoneMapping.cpp VeridovCore/PropertyList.cpp Wispen/keyboard/MicrophoneKey.cpp Wispen/keyboard/HIDKeyboardMappingStore.cpp Wispen/keyboard/KeymapHelper.cpp Wispen/keyboard/HIDUsages.cpp Wispen/keyboard/GlobalShortcut.cpp Wispen/keyboard/SystemShortcutsFormat.cpp Wispen/keyboard/SystemShortcutsReader.cpp Wispen/platform/FileUserDefaults.cpp"
        tests='^(MicrophoneMappingTests|MicrophoneKeyTests|shortcut_test.*)$'; targets="MicrophoneMappingTests MicrophoneKeyTests simulated_keymap_helper shortcut_test";;
  paste) files="Wispen/paste/PasteTarget.cpp Wispen/paste/TerminalApplications.cpp Wispen/paste/AtspiDesktop.cpp Wispen/paste/X11Session.cpp"
        tests='^paste_test$'; targets="paste_test";;
  service) files="service/Admission.cpp service/HttpServer.cpp service/ServiceOptions.cpp service/SpeechSegments.cpp service/TokenPieces.cpp service/TranscribeRequest.cpp service/TranscriptionServer.cpp service/ForwardingRecogniser.cpp service/AudioDecoder.cpp"
        tests='^(service_tests|service_client_tests)$'; targets="wispen-service service_tests service_client_tests";;
  views) files=$(ls Wispen/views/*.cpp | tr '\n' ' ')
        tests='^(views_tests|views_desktop_tests)$'; targets="views_tests views_desktop_tests";;
  shell) files="Wispen/shell/AppDelegate.cpp Wispen/shell/HudPresence.cpp Wispen/shell/PreviewMode.cpp Wispen/shell/TrayGlyph.cpp Wispen/shell/BundledService.cpp Wispen/shell/SingleInstance.cpp Wispen/shell/WispenMain.cpp"
        tests='^(shell_tests|shell_preview|shell_launch)$'; targets="shell_tests wispen";;
  audio) files="Wispen/audio/GStreamerRecorder.cpp"
        tests='^audio_tests$'; targets="audio_tests";;
  *) echo "scripts/mutants.sh: unknown area $a" >&2; exit 2;;
  esac
  case $a in core|service) timeout=120;; paste|keyboard) timeout=90;; *) timeout=45;; esac
  targs=""; for t in $targets; do targs="$targs --target $t"; done
  echo "scripts/mutants.sh: $a -> $out/$a.txt"
  python3 "$tool" --build build --tests "$tests" --count 40 --seed 11 --test-timeout $timeout \
    $targs $files > "$out/$a.txt" 2>&1
  tail -1 "$out/$a.txt"
done
