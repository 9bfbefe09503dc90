// Streamed sample exports: each piece through the in-memory writer, which formats
// every pair on its own, so the bytes do not depend on where the pieces end.
#include "streamed_export.h"

#include <cerrno>
#include <cstring>

#include "analysis_output.h"
#include "progress_report.h"

namespace arbsuite::analysis {

void writeSamples(std::FILE* stream, SamplePieces& pieces, SampleFormat format,
                  const std::string& name) {
  // One report over all pieces (the file's reading and decryption go with them).
  arb::ProgressReport progress("writing " + name, pieces.samples(), "pairs");
  pieces.forEach([&](std::span<const std::int16_t> piece) {
    writeSamples(stream, piece, format, name, progress);
  });
}

void writeSigmf(const std::string& base, SamplePieces& pieces, const SigmfRecording& recording) {
  const std::string dataPath = base + kSigmfDataSuffix;
  const std::string metaPath = base + kSigmfMetaSuffix;
  OutputFile data(dataPath);
  OutputFile meta(metaPath);
  writeSamples(data.stream(), pieces, SampleFormat::Ci16Le, dataPath);
  const std::string text = sigmfMetadata(recording).dump(2) + "\n";
  if (std::fwrite(text.data(), 1, text.size(), meta.stream()) != text.size()) {
    throw OutputError("cannot write " + metaPath + ": " + std::strerror(errno));
  }
  data.close();
  meta.close();
  data.commit();
  meta.commit();
}

}  // namespace arbsuite::analysis
