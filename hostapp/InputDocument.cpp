#include "hostapp/InputDocument.h"

#include "hostapp/PsdDocument.h"
#include "imaging/ImageFile.h"

namespace hostapp {

bool LoadInputDocument(const std::string& path, HostDocument& doc, InputFacts& facts, std::string& err)
{
    CQNF_ImageFile file;
    if (!file.Load(path, CQNF_ImageFile::AllKinds, kMaxImageSide)) {
        err = file.Reason();
        return false;
    }
    facts = InputFacts{};
    facts.resolution = file.GetResolutionX();
    facts.resolutionY = file.GetResolutionY();
    facts.orientation = file.GetOrientation();
    if (file.GetKind() == CQNF_ImageFile::KindPSD)
        return DocumentFromPsd(file, path, doc, err, &facts.note);
    RasterImage image;
    ImageFromFile(file, image);
    doc = HostDocument::FromImage(std::move(image), "Layer 1");
    return true;
}

}  // namespace hostapp
