#include "LocalEngine.h"

#include "PocketSphinxRecogniser.h"

#include <stdexcept>

#ifdef WISPEN_WITH_MOONSHINE
#include "MoonshineRecogniser.h"
#endif

namespace {

#ifdef WISPEN_WITH_MOONSHINE
// Base and tiny make equally few errors on clear synthetic speech, but base makes
// far fewer on recorded human speech and still meets the speed and memory targets
// (service/README.md).
constexpr MoonshineRecogniser::Model defaultModel = MoonshineRecogniser::Model::base;
constexpr const char* defaultName = LocalEngine::moonshineBase;
#endif

} // namespace

std::string LocalEngine::chosen(const ServiceOptions& options) {
    if (!options.engine.empty())
        return options.engine;
    // A grammar or an acoustic model folder is asked of pocketsphinx alone.
    if (!options.grammarFile.empty() || options.modelDir != ServiceOptions::defaultModelDir)
        return pocketsphinx;
#ifdef WISPEN_WITH_MOONSHINE
    if (MoonshineRecogniser::installed(options.moonshineDir, defaultModel))
        return defaultName;
#endif
    return pocketsphinx;
}

std::unique_ptr<Recogniser> LocalEngine::make(const ServiceOptions& options) {
    const std::string engine = chosen(options);
    if (engine == pocketsphinx)
        return std::make_unique<PocketSphinxRecogniser>(options.modelDir, options.grammarFile,
                                                        options.workers);
#ifdef WISPEN_WITH_MOONSHINE
    return std::make_unique<MoonshineRecogniser>(options.moonshineDir,
                                                 engine == moonshineTiny
                                                     ? MoonshineRecogniser::Model::tiny
                                                     : MoonshineRecogniser::Model::base,
                                                 options.workers);
#else
    throw std::invalid_argument("This build has no Moonshine engine (scripts/moonshine.sh "
                                "could not fetch ONNX Runtime when it was built); use "
                                "--engine pocketsphinx.");
#endif
}
