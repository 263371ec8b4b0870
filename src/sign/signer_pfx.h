// The PFX file of a PFX signer, kept open between signatures. Every
// signature reads the file again; when its bytes and the password are those
// of the last load, the already imported certificates and keys are used as
// they are, and only a changed file or password runs the password check and
// the import again. The engine holds it as the signer's store, so the signer
// reset closes it and removes the imported keys. One still open when the
// process exits is left as it is: the platform's own state is being torn down
// by then, and the next process sweeps the temporary key containers.
#pragma once

#include <string>
#include <vector>

#include "cert/pfx_file.h"

namespace kv::sign {

class CSignerPfx : public CPfxFile {
 public:
  CSignerPfx();
  ~CSignerPfx() override;

  // The file at `path` with `password`, as CPfxFile::Load with flags 1 gives
  // it (same codes, same last error), without a new import when nothing
  // changed since the last successful load.
  ErrorCode Reload(const std::string& path, const std::string& password);

  void Close() override;

 private:
  void Forget();

  std::string m_path;
  std::string m_password;
  std::vector<BYTE> m_image;
};

}  // namespace kv::sign
