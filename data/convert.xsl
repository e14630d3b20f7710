<?xml version="1.0" encoding="UTF-8"?>
<!-- Copies the merged comment file unchanged and saves it as UTF-8 with an XML
     declaration. The source's own XML declaration is not copied as a node: some
     XML components expose it as a processing instruction named "xml", and a
     copied declaration makes their transform fail. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="yes"/>

  <xsl:template match="@*|node()">
    <xsl:copy>
      <xsl:apply-templates select="@*|node()"/>
    </xsl:copy>
  </xsl:template>

  <xsl:template match="processing-instruction('xml')"/>
</xsl:stylesheet>
